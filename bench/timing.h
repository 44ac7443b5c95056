// Timing a case against its floor: repetitions taken in pairs, one run of each side
// right after the other, so that whatever else the machine is doing weighs on both
// sides alike.
#pragma once
#include <functional>

// Runs count operations of one side of a case.
using Runner = std::function<void(int count)>;

struct Figures {
    double varnel_ns;  // per operation, median of the repetitions
    double floor_ns;
    double ratio;      // median of the pairs' ratios, steadier than a ratio of medians
    int count;         // operations per repetition
};

// The number of operations that takes the varnel side about min_ms, at least 1.
int calibrate(const Runner& varnel, double min_ms);

// Times reps pairs of count operations on each side, after one warm-up run of
// each. The side that goes first alternates from pair to pair.
Figures measure(const Runner& varnel, const Runner& floor, int count, int reps);
