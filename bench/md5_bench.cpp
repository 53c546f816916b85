// Digest throughput of CMD5Checksum next to OpenSSL's MD5 on the same buffers, in one run, with
// the ratio of the two printed at the end (above 1: ours is faster). Both produce the 16 digest
// bytes; the text form is measured apart, as it is not part of the digest.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "identification/md5_checksum.h"

namespace {

const std::vector<unsigned char>& Buffer(std::size_t nSize) {
    static std::map<std::size_t, std::vector<unsigned char>> s_buffers;
    std::vector<unsigned char>& buffer = s_buffers[nSize];
    if (buffer.size() != nSize) {
        buffer.resize(nSize);
        for (std::size_t i = 0; i < nSize; ++i)
            buffer[i] = static_cast<unsigned char>(i * 37 + 11);
    }
    return buffer;
}

void BM_Idrovan(benchmark::State& state) {
    const std::vector<unsigned char>& data = Buffer(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        CMD5Checksum engine;
        engine.Update(data.data(), static_cast<std::uint32_t>(data.size()));
        unsigned char digest[CMD5Checksum::DIGEST_SIZE];
        engine.FinishBytes(digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_OpenSSL(benchmark::State& state) {
    const std::vector<unsigned char>& data = Buffer(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        MD5_CTX context;
        MD5_Init(&context);
        MD5_Update(&context, data.data(), data.size());
        unsigned char digest[MD5_DIGEST_LENGTH];
        MD5_Final(digest, &context);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_IdrovanText(benchmark::State& state) {
    const std::vector<unsigned char>& data = Buffer(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        CVeltraneString strDigest =
            CMD5Checksum::DigestOf(data.data(), static_cast<std::uint32_t>(data.size()));
        benchmark::DoNotOptimize(strDigest.GetBuffer());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_Idrovan)->Arg(64)->Arg(1024)->Arg(16384);
BENCHMARK(BM_OpenSSL)->Arg(64)->Arg(1024)->Arg(16384);
BENCHMARK(BM_IdrovanText)->Arg(64);

// Keeps the CPU time per iteration of every benchmark, to print the ratios after the table.
class CRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred)
                continue;
            // The best of the repetitions: other work on the machine only ever slows a run.
            const std::string strName = run.run_name.str();
            const double dTime = run.GetAdjustedCPUTime();
            auto found = m_times.find(strName);
            if (found == m_times.end() || dTime < found->second)
                m_times[strName] = dTime;
        }
    }

    void PrintRatios() const {
        for (const char* pszSize : {"64", "1024", "16384"}) {
            auto ours = m_times.find(std::string("BM_Idrovan/") + pszSize);
            auto theirs = m_times.find(std::string("BM_OpenSSL/") + pszSize);
            if (ours == m_times.end() || theirs == m_times.end() || ours->second <= 0)
                continue;
            std::printf("speed vs OpenSSL MD5 at %5s bytes: %.2f\n", pszSize,
                        theirs->second / ours->second);
        }
    }

private:
    std::map<std::string, double> m_times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    CRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.PrintRatios();
    return 0;
}
