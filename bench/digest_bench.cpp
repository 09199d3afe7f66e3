// Throughput of the digests a download can compute alongside the transfer, over the
// 256 KiB blocks the download's digest thread reads: MD5 (Poco, as verified today), SHA-256
// through OpenSSL (the signing library's Sha256Digest), and SHA-256 through Poco for
// comparison. Reports bytes per second; the difference tells what adding SHA-256 to the
// one-pass digest costs.
//
// Run: build/bench/digest_bench
#include "UpdateManager/signing/Sha256Digest.h"

#include <Poco/MD5Engine.h>
#include <Poco/SHA2Engine.h>

#include <benchmark/benchmark.h>

#include <vector>

namespace
{
constexpr std::size_t blockSize = 256 * 1024;

std::vector<char> sampleBlock()
{
    std::vector<char> block(blockSize);
    for (std::size_t index = 0; index < block.size(); ++index)
        block[index] = static_cast<char>(index * 131 + 7);
    return block;
}

template <typename Digest> void digestBlocks(benchmark::State& state, Digest& digest)
{
    const std::vector<char> block = sampleBlock();
    for (auto _ : state)
        digest.update(block.data(), block.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * blockSize));
}

void md5Poco(benchmark::State& state)
{
    Poco::MD5Engine engine;
    digestBlocks(state, engine);
}

void sha256OpenSsl(benchmark::State& state)
{
    Veltora::UpdateManager::Sha256Digest digest;
    digestBlocks(state, digest);
}

void sha256Poco(benchmark::State& state)
{
    Poco::SHA2Engine engine(Poco::SHA2Engine::SHA_256);
    digestBlocks(state, engine);
}
} // namespace

BENCHMARK(md5Poco);
BENCHMARK(sha256OpenSsl);
BENCHMARK(sha256Poco);
BENCHMARK_MAIN();
