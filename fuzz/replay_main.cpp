// Drives a fuzz target's entry point without libFuzzer, so every build with tests compiles the
// targets and replays the inputs kept from earlier fuzzing. Each file named on the command line,
// and each file directly inside a folder named there, is read whole and passed in once; a crash
// or a sanitizer report ends the run as it would under the fuzzer. A path that is neither a file
// nor a folder fails the run, so a moved folder is not taken for "nothing to replay".
// Usage: fuzz_<reader>_replay FILE|FOLDER...
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

// Notes and the placeholders that keep an empty folder in git are no inputs.
bool IsInput(const fs::path& p) {
  const std::string name = p.filename().string();
  return !name.empty() && name[0] != '.' && p.extension() != ".md";
}

bool Replay(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", p.string().c_str());
    return false;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  // Like libFuzzer, an empty input still comes with a valid pointer.
  static const uint8_t kNothing = 0;
  std::fprintf(stderr, "replaying %s (%zu bytes)\n", p.string().c_str(), bytes.size());
  LLVMFuzzerTestOneInput(bytes.empty() ? &kNothing : bytes.data(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE|FOLDER...\n", argv[0]);
    return 64;
  }
  bool ok = true;
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg(argv[i]);
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
      std::vector<fs::path> files;
      for (const auto& e : fs::directory_iterator(arg, ec))
        if (e.is_regular_file(ec) && IsInput(e.path())) files.push_back(e.path());
      if (ec) {
        std::fprintf(stderr, "cannot list %s: %s\n", argv[i], ec.message().c_str());
        ok = false;
      }
      std::sort(files.begin(), files.end());  // the same order on every run
      for (const auto& f : files) {
        if (Replay(f))
          ++replayed;
        else
          ok = false;
      }
    } else if (fs::is_regular_file(arg, ec)) {
      if (Replay(arg))
        ++replayed;
      else
        ok = false;
    } else {
      std::fprintf(stderr, "no such file or folder: %s\n", argv[i]);
      ok = false;
    }
  }
  std::printf("replayed %d input(s)\n", replayed);
  return ok ? 0 : 1;
}
