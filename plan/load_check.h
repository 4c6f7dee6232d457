// Whether other work on the machine would disturb the figures: the CPU time
// the whole machine spent outside this process (and the time a hypervisor
// stole) over a short look before a plan starts, as Google Benchmark warns
// of frequency scaling before it measures.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The machine's CPU time so far, in seconds, from /proc/stat under `root`.
struct MachineCpu {
    double busy = 0;    // user, nice, system, irq, softirq (guest time is within user)
    double stolen = 0;  // steal: a hypervisor ran something else
    double total = 0;   // all of it, idle and iowait included
};
std::optional<MachineCpu> ReadMachineCpu(const std::string& root = "");

// The warning for a look of `seconds` between two readings, while this
// process used `own_cpu_seconds`; empty when the machine was quiet: other
// processes used less than half a core and less than a tenth was stolen.
std::string LoadWarning(const MachineCpu& before, const MachineCpu& after, double own_cpu_seconds,
                        double seconds, std::int32_t cores);

// Looks for `seconds` at the running machine and gives LoadWarning's text.
std::string LookAtTheLoad(double seconds);
