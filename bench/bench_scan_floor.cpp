// How close the scan (`--check`) comes to the cost of its first steps alone, on one thread, for
// the folder QM_SCAN_FOLDER names: reading the files' bytes; for .xlsx, inflating every
// worksheet part and then parsing it with expat without any handler; for .xls, walking the
// records of the workbook stream. The full read of each first sheet is the last figure.
#include <benchmark/benchmark.h>
#include <expat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "workbook/io.h"
#include "workbook/office/cfb_reader.h"
#include "workbook/paths.h"
#include "workbook/xlsx/zip_reader.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Files() {
  std::vector<std::string> out;
  const char* folder = std::getenv("QM_SCAN_FOLDER");
  if (!folder) return out;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().extension() == ".xls" || e.path().extension() == ".xlsx")
      out.push_back(e.path().string());
  return out;
}

std::vector<uint8_t> Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> out(static_cast<size_t>(fs::file_size(path)));
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return out;
}

bool IsSheetPart(const std::string& name) {
  return name.rfind("xl/worksheets/", 0) == 0;
}

void BM_ReadBytes(benchmark::State& state) {
  const auto files = Files();
  for (auto _ : state)
    for (const auto& f : files) benchmark::DoNotOptimize(Bytes(f).size());
}
BENCHMARK(BM_ReadBytes)->Unit(benchmark::kMillisecond);

// Each worksheet part of each .xlsx of `files`, its archive open: `fn(zip, entry)`.
template <class Fn>
void ForEachSheetPart(const std::vector<std::string>& files, Fn fn) {
  for (const auto& f : files) {
    if (f.size() < 5 || f.substr(f.size() - 5) != ".xlsx") continue;
    const auto bytes = Bytes(f);
    auto zip = qm::zip::Archive::Open(bytes.data(), bytes.size(), f);
    if (!zip) continue;
    for (const auto& e : zip->entries())
      if (IsSheetPart(e.name)) fn(*zip, e);
  }
}

// .xlsx: bytes read and every worksheet part inflated.
void BM_InflateSheets(benchmark::State& state) {
  const auto files = Files();
  for (auto _ : state)
    ForEachSheetPart(files, [](qm::zip::Archive& zip, const qm::zip::Entry& e) {
      size_t n = 0;
      (void)zip.Extract(e, [&](const char*, size_t k) {
        n += k;
        return true;
      });
      benchmark::DoNotOptimize(n);
    });
}
BENCHMARK(BM_InflateSheets)->Unit(benchmark::kMillisecond);

// .xlsx: the above, and expat over each part with no handler set: the parser's own floor.
void BM_InflateAndExpat(benchmark::State& state) {
  const auto files = Files();
  for (auto _ : state)
    ForEachSheetPart(files, [](qm::zip::Archive& zip, const qm::zip::Entry& e) {
      XML_Parser p = XML_ParserCreate(nullptr);
      (void)zip.Extract(e, [&](const char* d, size_t k) {
        return XML_Parse(p, d, static_cast<int>(k), XML_FALSE) == XML_STATUS_OK;
      });
      XML_Parse(p, nullptr, 0, XML_TRUE);
      XML_ParserFree(p);
    });
}
BENCHMARK(BM_InflateAndExpat)->Unit(benchmark::kMillisecond);

// .xls: bytes read, the compound file opened, the workbook stream taken and its records walked
// (id and length only).
void BM_XlsRecordWalk(benchmark::State& state) {
  const auto files = Files();
  for (auto _ : state) {
    for (const auto& f : files) {
      if (f.size() < 4 || f.substr(f.size() - 4) != ".xls") continue;
      const auto bytes = Bytes(f);
      qm::cfb::Reader cfb;
      if (!cfb.Open(bytes.data(), bytes.size()).empty()) continue;
      const int index = cfb.Find(u"Workbook");
      if (index < 0) continue;
      std::span<const uint8_t> stream = cfb.InPlace(index);
      std::vector<uint8_t> copy;
      if (stream.empty()) {
        copy = cfb.ReadStream(index);
        stream = copy;
      }
      size_t records = 0;
      for (size_t at = 0; at + 4 <= stream.size(); ++records)
        at += 4 + (stream[at + 2] | stream[at + 3] << 8);
      benchmark::DoNotOptimize(records);
    }
  }
}
BENCHMARK(BM_XlsRecordWalk)->Unit(benchmark::kMillisecond);

// The whole read of each file's first sheet, as the scan does it, on one thread.
void BM_ReadFirstSheets(benchmark::State& state) {
  const auto files = Files();
  qm::ReadOptions options;
  options.first_worksheet_only = true;
  for (auto _ : state)
    for (const auto& f : files) benchmark::DoNotOptimize(qm::ReadWorkbookFile(f, options).ok());
}
BENCHMARK(BM_ReadFirstSheets)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
