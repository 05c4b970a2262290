// Costs of the hot paths that run on every check or log line: formatting a
// log line, expanding route ranges, looking parameters up by name.
#include <benchmark/benchmark.h>

#include "config/address_parsing.h"
#include "outlinkwatch/agent_base.h"
#include "plugin/component.h"

namespace {

class NullAgent : public AgentBase {
public:
    void WriteLog(int32_t, const char*, const char* text) override { benchmark::DoNotOptimize(text); }
};

void BM_WriteLog(benchmark::State& state) {
    NullAgent agent;
    CPolicyBase policy;  // the policy's log path, without its parts
    policy.SetAgent(&agent);
    policy.SetModuleName("OutlinkWatch");
    for (auto _ : state) policy.WriteLog(2, "CPolicy::GetPolicyParams", 42, "ValidProxy %s", "10.1.2.3;proxy.example");
}
BENCHMARK(BM_WriteLog);

void BM_ParseIPSec(benchmark::State& state) {
    std::list<std::string> in;
    for (int i = 0; i < state.range(0); ++i) in.push_back("10." + std::to_string(i % 256) + ".0.0/24");
    for (auto _ : state) {
        std::list<std::string> out;
        outlinkwatch::ParseIPSec(in, out, nullptr);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * 256);
}
BENCHMARK(BM_ParseIPSec)->Arg(1)->Arg(100);

void BM_FindParamValue(benchmark::State& state) {
    CPolicyBase policy;
    std::list<PolicyParam> params;
    for (int i = 0; i < state.range(0); ++i) {
        PolicyParam p;
        p.name = "Param" + std::to_string(i);
        p.value = "v";
        params.push_back(p);
    }
    for (auto _ : state) benchmark::DoNotOptimize(policy.FindParamValue("PARAM" + std::to_string(state.range(0) - 1), params));
}
BENCHMARK(BM_FindParamValue)->Arg(10)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
