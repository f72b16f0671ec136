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

# vellorine_tests(LABEL <folder> [DEPS <targets...>])
# One GoogleTest executable per tests/ folder, run by CTest under that label.
function(vellorine_tests)
    cmake_parse_arguments(ARG "" "LABEL" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(NOT sources)
        return()
    endif()
    set(exe ${ARG_LABEL}_tests)
    add_executable(${exe} ${sources})
    target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${exe} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
    target_compile_definitions(${exe} PRIVATE
        VELLORINE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        VELLORINE_BINARY_DIR="${PROJECT_BINARY_DIR}")
    include(GoogleTest)
    gtest_discover_tests(${exe}
        PROPERTIES LABELS ${ARG_LABEL}
                   ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
        DISCOVERY_TIMEOUT 60)
endfunction()
