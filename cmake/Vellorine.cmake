# vellorine_library(NAME <name> [QT] [DEPS <targets...>])
# One static library per folder of src/, made of every .cpp in that folder.
function(vellorine_library)
    cmake_parse_arguments(ARG "QT" "NAME" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    add_library(${ARG_NAME} STATIC ${sources} ${headers})
    target_include_directories(${ARG_NAME} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${ARG_NAME} PUBLIC ${ARG_DEPS} Threads::Threads)
    if(ARG_QT)
        set_target_properties(${ARG_NAME} PROPERTIES AUTOMOC ON)
    else()
        set_target_properties(${ARG_NAME} PROPERTIES AUTOMOC OFF)
    endif()
endfunction()

# vellorine_tests(LABEL <folder> [QT] [NAME <exe>] [SOURCES <files...>] [EXCLUDE <files...>]
#                 [DEPS <targets...>] [RESOURCE_LOCK <name>])
# One GoogleTest executable per tests/ folder (every .cpp in it unless SOURCES names them;
# EXCLUDE leaves some out), run by CTest under that label. QT gives it the Qt tests' main
# (tests/support/QtTestMain.cpp: the application, offscreen, in scratch user folders) and
# their shared helpers; without it GoogleTest's own main runs the tests. Tests of executables that share
# a RESOURCE_LOCK never run at the same time (e.g. "sound": a test that records the null
# sink must hear only its own tone), so a folder keeps its sound tests in an executable of
# their own and the rest run in parallel.
function(vellorine_tests)
    cmake_parse_arguments(ARG "QT" "LABEL;NAME;RESOURCE_LOCK" "DEPS;SOURCES;EXCLUDE" ${ARGN})
    if(ARG_SOURCES)
        list(TRANSFORM ARG_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ OUTPUT_VARIABLE sources)
    else()
        file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    endif()
    foreach(excluded ${ARG_EXCLUDE})
        list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
    endforeach()
    if(NOT sources)
        return()
    endif()
    set(exe ${ARG_LABEL}_tests)
    if(ARG_NAME)
        set(exe ${ARG_NAME})
    endif()
    add_executable(${exe} ${sources})
    target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    if(ARG_QT AND TARGET test_qt_main)
        set(main test_qt_main Qt6::Test)
    else()
        set(main GTest::gtest_main)
    endif()
    target_link_libraries(${exe} PRIVATE ${ARG_DEPS} test_support ${main} GTest::gtest GTest::gmock)
    target_compile_definitions(${exe} PRIVATE
        VELLORINE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        VELLORINE_BINARY_DIR="${PROJECT_BINARY_DIR}")
    set(lock "")
    if(ARG_RESOURCE_LOCK)
        set(lock RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
    endif()
    include(GoogleTest)
    gtest_discover_tests(${exe}
        PROPERTIES LABELS ${ARG_LABEL}
                   ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                   ${lock}
        DISCOVERY_TIMEOUT 60)
endfunction()

# vellorine_split_library(BASE <name> UPPER <name> (BASE_UNITS <units...> | UPPER_UNITS <units...>)
#                         [BASE_DEPS <targets...>] [UPPER_DEPS <targets...>])
# A folder whose plain-C++ units form one library (BASE, no Qt) and whose GUI units form
# another on top of it (UPPER, Qt). Units are file names without extension; name either
# the base units or the upper ones, the rest of the folder goes to the other side.
# Without GUI units (or with VELLORINE_GUI off) UPPER is an interface alias of BASE.
function(vellorine_split_library)
    cmake_parse_arguments(ARG "" "BASE;UPPER" "BASE_UNITS;UPPER_UNITS;BASE_DEPS;UPPER_DEPS" ${ARGN})
    file(GLOB all_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    set(base_sources "")
    set(upper_sources "")
    foreach(src ${all_sources})
        get_filename_component(unit ${src} NAME_WE)
        if(ARG_UPPER_UNITS)
            set(goes_up FALSE)
            if(unit IN_LIST ARG_UPPER_UNITS)
                set(goes_up TRUE)
            endif()
        else()
            set(goes_up TRUE)
            if(unit IN_LIST ARG_BASE_UNITS)
                set(goes_up FALSE)
            endif()
        endif()
        if(goes_up)
            list(APPEND upper_sources ${src})
        else()
            list(APPEND base_sources ${src})
        endif()
    endforeach()

    add_library(${ARG_BASE} STATIC ${base_sources})
    target_include_directories(${ARG_BASE} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${ARG_BASE} PUBLIC ${ARG_BASE_DEPS} Threads::Threads)
    set_target_properties(${ARG_BASE} PROPERTIES AUTOMOC OFF LINKER_LANGUAGE CXX)

    if(upper_sources AND VELLORINE_GUI)
        add_library(${ARG_UPPER} STATIC ${upper_sources})
        target_link_libraries(${ARG_UPPER} PUBLIC ${ARG_BASE} ${ARG_UPPER_DEPS})
        set_target_properties(${ARG_UPPER} PROPERTIES AUTOMOC ON)
    else()
        add_library(${ARG_UPPER} INTERFACE)
        target_link_libraries(${ARG_UPPER} INTERFACE ${ARG_BASE})
    endif()
endfunction()

# vellorine_add_folder(<folder>)
# Adds a folder the build lists; a missing one is a broken checkout, not something to skip.
function(vellorine_add_folder dir)
    if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${dir}/CMakeLists.txt)
        message(FATAL_ERROR "${dir}/CMakeLists.txt is missing: the build lists this folder")
    endif()
    add_subdirectory(${PROJECT_SOURCE_DIR}/${dir} ${PROJECT_BINARY_DIR}/${dir})
endfunction()

# vellorine_check_all_listed(<prefix>)
# Every <prefix>_*.cpp of the current folder must have become a target of the same name,
# so a benchmark or fuzz target is never silently left out of the build.
function(vellorine_check_all_listed prefix)
    file(GLOB present RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS
         ${CMAKE_CURRENT_SOURCE_DIR}/${prefix}_*.cpp)
    foreach(file ${present})
        string(REGEX REPLACE "\\.cpp$" "" name ${file})
        if(NOT TARGET ${name})
            message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${file} is not listed in its CMakeLists.txt")
        endif()
    endforeach()
endfunction()

# vellorine_copy_help(<target> <folder>)
# Copies docs/help into <folder>/help whenever a help file changes, before <target> is
# built: the program finds its help beside its executable.
function(vellorine_copy_help target folder)
    file(GLOB_RECURSE help_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/help/*)
    set(stamp ${folder}/help/.copied)
    add_custom_command(OUTPUT ${stamp}
        COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/docs/help ${folder}/help
        COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
        DEPENDS ${help_sources}
        COMMENT "Copying the HTML help into ${folder}/help")
    add_custom_target(${target}_help DEPENDS ${stamp})
    add_dependencies(${target} ${target}_help)
endfunction()
