// Cost of the host's write into the ring: plain copies and 24-bit widening.
#include <benchmark/benchmark.h>
#include <sim/control.h>

#include <vector>

#include "engine/probe.h"
#include "frame/settings.h"

namespace {

void RingWrite(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    const int32_t cbWrite = static_cast<int32_t>(state.range(1));
    sim::SetHostExecutablePath("/nonexistent/host.exe");
    PluginSettings settings;
    KSCore core(nullptr, nullptr, &settings);
    KSCoreProbe::OpenWithoutDevice(core, TestFormat(44100, 2, bits));
    std::vector<char> pcm(static_cast<size_t>(cbWrite), 0x11);
    for (auto _ : state) {
        // The player thread takes nothing without a free packet: empty the
        // ring between writes, as it would.
        KSCoreProbe::MoveEmptyRing(core, KSCoreProbe::WriteOffset(core));
        benchmark::DoNotOptimize(core.Write(pcm.data(), cbWrite));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(cbWrite));
    KSCoreProbe::CloseWithoutDevice(core);
}
BENCHMARK(RingWrite)->Args({16, 4608})->Args({16, 16384})->Args({24, 4608})->Args({24, 16386});

}  // namespace

BENCHMARK_MAIN();
