#include "load_check.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "processor_info.h"
#include "tick.h"

namespace {
// Other processes' use from which figures are disturbed: half a core, and
// a tenth of the machine's time stolen by the hypervisor.
constexpr double kBusyCores = 0.5;
constexpr double kStolenShare = 0.1;
}  // namespace

std::optional<MachineCpu> ReadMachineCpu(const std::string& root) {
    std::ifstream stat(root + "/proc/stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind("cpu ", 0) != 0) return std::nullopt;
    std::istringstream fields(line.substr(4));
    double user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    if (!(fields >> user >> nice >> system >> idle >> iowait >> irq >> softirq))
        return std::nullopt;
    fields >> steal;  // absent on old kernels
    const long hz = sysconf(_SC_CLK_TCK);
    const double tick = 1.0 / static_cast<double>(hz > 0 ? hz : 100);
    MachineCpu cpu;
    cpu.busy = (user + nice + system + irq + softirq) * tick;
    cpu.stolen = steal * tick;
    cpu.total = cpu.busy + cpu.stolen + (idle + iowait) * tick;
    return cpu;
}

std::string LoadWarning(const MachineCpu& before, const MachineCpu& after, double own_cpu_seconds,
                        double seconds, std::int32_t cores) {
    if (!(seconds > 0)) return {};
    const double others = (after.busy - before.busy - own_cpu_seconds) / seconds;
    const double total = after.total - before.total;
    const double stolen = total > 0 ? (after.stolen - before.stolen) / total : 0;
    if (others < kBusyCores && stolen < kStolenShare) return {};
    char text[256];
    std::snprintf(
        text, sizeof text,
        "other work was running before the start: %.1f of %d cores busy outside vorp-cli, "
        "%.0f%% stolen by the hypervisor; figures may be disturbed (the summary's cpu flag "
        "marks the points that lost cores)",
        others > 0 ? others : 0.0, cores, 100 * stolen);
    return text;
}

std::string LookAtTheLoad(double seconds) {
    const auto before = ReadMachineCpu();
    const double own_before = ProcessCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const std::chrono::duration<double> looked = std::chrono::steady_clock::now() - start;
    const auto after = ReadMachineCpu();
    if (!before || !after) return {};
    return LoadWarning(*before, *after, ProcessCpuSeconds() - own_before, looked.count(),
                       UsableCores());
}
