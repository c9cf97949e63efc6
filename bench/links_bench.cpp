// Links for a table of recipients: --recipients with 5000 rows whose greeting and one credit line
// take a column each, so every row's two texts are laid out anew (the cost that matters), against
// the same table with texts that are the same in every row.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/LinkCommand.h"
#include "app/Options.h"

namespace {

std::string Table(int rows) {
  const std::string file = std::string(WG_TEST_TMP) + "/links-bench.csv";
  std::filesystem::create_directories(WG_TEST_TMP);
  std::ofstream out(file);
  out << "name,city\n";
  for (int i = 0; i < rows; ++i) out << "Анна Петровна " << i << ",Город " << i * 7 << "\n";
  return file;
}

void Links(benchmark::State& state, bool perRow) {
  app::Options o;
  o.shareLink = "https://example.org/greeting/";
  o.recipients = Table(static_cast<int>(state.range(0)));
  o.greeting = perRow ? "С Новым годом, {name}!" : "С Новым годом!";
  o.credits = {perRow ? "Привет из города {city}" : "Привет!", "От всех нас"};
  for (auto _ : state) {
    std::ostringstream out;
    app::RunShareLink(o, WG_APP_DIR, out);
    benchmark::DoNotOptimize(out.str().size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_RecipientsTextsPerRow(benchmark::State& state) {
  Links(state, true);
}
void BM_RecipientsSameTexts(benchmark::State& state) {
  Links(state, false);
}
BENCHMARK(BM_RecipientsTextsPerRow)->Arg(5000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecipientsSameTexts)->Arg(5000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
