// Time of an import of N trusted servers: the file parsed once, then each
// record applied through the command layer (semaphore, handler, a load and
// atomic store of the system configuration per record).
#include <fcntl.h>
#include <semaphore.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "impex/interpreter.h"
#include "impex/parser.h"
#include "ui/ui.h"

namespace fs = std::filesystem;

namespace {

class BenchUI : public UserInterface::UI {
 public:
  using UI::Files;
  explicit BenchUI(Files files) : UI(std::move(files)) {}
};

struct Workspace {
  explicit Workspace(int servers) {
    dir = fs::temp_directory_path() / ("import_bench_" + std::to_string(getpid()));
    fs::create_directories(dir);
    sem_name = "/yrk_import_bench_" + std::to_string(getpid());
    sem_unlink(sem_name.c_str());
    sem = sem_open(sem_name.c_str(), O_CREAT | O_EXCL, 0600, 1);
    std::ofstream(dir / "defconfig") << "<YRK>\n\t<SERVERS>\n</SERVERS>\n</YRK>\n";
    std::ofstream(dir / "user.cfg") << "<YRK>\n</YRK>\n";
    std::ofstream xml(dir / "import.xml");
    xml << "<Sections><Section Action=\"Add\">\n";
    for (int i = 0; i < servers; ++i)
      xml << "<Server subject_cn=\"gate" << i << ".example.ru\" subject_o=\"Example\">gate" << i
          << "</Server>\n";
    xml << "</Section></Sections>\n";
    files.user = "bench";
    files.semaphore = sem_name;
    files.user_config = dir / "user.cfg";
    files.system_config = dir / "system.cfg";
    files.system_template = dir / "defconfig";
  }
  ~Workspace() {
    sem_close(sem);
    sem_unlink(sem_name.c_str());
    fs::remove_all(dir);
  }

  fs::path dir;
  std::string sem_name;
  sem_t *sem;
  BenchUI::Files files;
};

void BM_ImportServers(benchmark::State &state) {
  const int servers = static_cast<int>(state.range(0));
  Workspace work(servers);
  BenchUI ui(work.files);
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(work.files.system_config);
    state.ResumeTiming();
    Parser parser;
    for (const Parser::_Record &record : parser.Parse(work.dir / "import.xml").Records()) {
      UserInterface::UI::ParameterBag bag;
      bag.strings = record.strings;
      bag.digitals = record.digitals;
      if (ui.SendCommand(Interpreter::CommandFor(record.action, record.kind), bag) != 0) {
        state.SkipWithError("a server was not added");
        return;
      }
    }
  }
  state.counters["per_record"] = benchmark::Counter(static_cast<double>(servers),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(BM_ImportServers)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
