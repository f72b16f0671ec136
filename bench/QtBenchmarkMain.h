#pragma once
// The main of a Google Benchmark executable whose benchmarks post Qt events (the rip thread's
// progress): they need a QCoreApplication. Included once, at the end of the bench's source.
#include <QCoreApplication>
#include <benchmark/benchmark.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
