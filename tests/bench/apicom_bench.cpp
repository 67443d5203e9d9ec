// Blowfish throughput beside OpenSSL's on the same buffers, and the time to
// compose and encipher a whole request document.
#include <benchmark/benchmark.h>
#include <openssl/blowfish.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "gateway/automation/document.h"
#include "identity/blowfish.h"
#include "identity/cipher.h"

namespace {

using namespace zentrova;

std::vector<unsigned char> Buffer(std::size_t n) {
  std::vector<unsigned char> data(n);
  std::mt19937 rng(1);
  for (auto& b : data) b = static_cast<unsigned char>(rng());
  return data;
}

void OurBlowfish(benchmark::State& state) {
  auto data = Buffer(static_cast<std::size_t>(state.range(0)));
  const auto& schedule = identity::DocumentKeySchedule();
  for (auto _ : state) {
    identity::BlowfishEncipher(schedule, data.data(), data.size());
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void OpenSslBlowfish(benchmark::State& state) {
  auto data = Buffer(static_cast<std::size_t>(state.range(0)));
  BF_KEY key;
  BF_set_key(&key, 10, reinterpret_cast<const unsigned char*>("7302918465"));
  for (auto _ : state) {
    for (std::size_t i = 0; i < data.size(); i += 8)
      BF_ecb_encrypt(data.data() + i, data.data() + i, &key, BF_ENCRYPT);
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// The key set-up the document cipher no longer pays per document.
void KeySetUp(benchmark::State& state) {
  const unsigned char key[] = "7302918465";
  for (auto _ : state) benchmark::DoNotOptimize(identity::ExpandBlowfishKey(key, 10));
}

void ComposeAndEncipher(benchmark::State& state) {
  gateway::AutomationRequest request;
  request.settings = {"ACC123", "me@example.com", "secret", "61"};
  request.message = std::string(160, 'm');
  for (std::int64_t i = 0; i < state.range(0); ++i)
    request.recipients.push_back({"04" + std::to_string(10000000 + i), false});
  identity::SequenceNumber sequence;
  std::string text;
  for (auto _ : state) {
    if (gateway::ComposeAutomationDocument(request, sequence, text) !=
        gateway::ComposeResult::kComposed)
      state.SkipWithError("composition failed");
    benchmark::DoNotOptimize(text.data());
  }
  state.SetComplexityN(state.range(0));
}

BENCHMARK(OurBlowfish)->Arg(512)->Arg(4096)->Arg(1 << 16);
BENCHMARK(OpenSslBlowfish)->Arg(512)->Arg(4096)->Arg(1 << 16);
BENCHMARK(KeySetUp);
BENCHMARK(ComposeAndEncipher)->Arg(1)->Arg(100)->Arg(10000)->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
