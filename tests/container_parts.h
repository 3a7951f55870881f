// The containers our writers produce, opened by a reader that is not the program's own where
// there is one: libgsf on Linux. The Windows build has no libgsf (it needs glib); there the
// program's own compound-file and zip readers stand in, so the record-level checks still run.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#ifdef QM_HAVE_GSF
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile-zip.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-utils.h>

#include <functional>
#else
#include "test_support.h"
#include "workbook/office/cfb_reader.h"
#include "workbook/paths.h"
#include "workbook/xlsx/zip_reader.h"
#endif

namespace qm::testing {

// The "Workbook" stream of a compound file; empty when there is none.
inline std::vector<uint8_t> WorkbookStream(const std::string& path) {
  std::vector<uint8_t> out;
#ifdef QM_HAVE_GSF
  gsf_init();
  GError* err = nullptr;
  GsfInput* in = gsf_input_stdio_new(path.c_str(), &err);
  if (!in) {
    if (err) g_error_free(err);
    return out;
  }
  GsfInfile* ole = gsf_infile_msole_new(in, &err);
  if (ole) {
    GsfInput* s = gsf_infile_child_by_name(ole, "Workbook");
    if (s) {
      out.resize(static_cast<size_t>(gsf_input_size(s)));
      if (!out.empty() && !gsf_input_read(s, out.size(), out.data())) out.clear();
      g_object_unref(s);
    }
    g_object_unref(ole);
  }
  if (err) g_error_free(err);
  g_object_unref(in);
#else
  const std::string bytes = Slurp(PathFromUtf8(path));
  cfb::Reader cfb;
  if (!cfb.Open(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()).empty()) return out;
  if (int i = cfb.Find(u"Workbook"); i >= 0) out = cfb.ReadStream(i);
#endif
  return out;
}

// Every part of a zip package by name (folders joined with "/"); empty when it is no package.
inline std::map<std::string, std::string> PackageParts(const std::string& path) {
  std::map<std::string, std::string> parts;
#ifdef QM_HAVE_GSF
  gsf_init();
  GError* err = nullptr;
  GsfInput* in = gsf_input_stdio_new(path.c_str(), &err);
  if (!in) return parts;
  GsfInfile* zip = gsf_infile_zip_new(in, &err);
  std::function<void(GsfInfile*, const std::string&)> walk = [&](GsfInfile* dir,
                                                                 const std::string& prefix) {
    for (int i = 0; i < gsf_infile_num_children(dir); ++i) {
      GsfInput* child = gsf_infile_child_by_index(dir, i);
      std::string name = prefix + gsf_infile_name_by_index(dir, i);
      if (GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0) {
        walk(GSF_INFILE(child), name + "/");
      } else {
        std::string data(static_cast<size_t>(gsf_input_size(child)), '\0');
        if (!gsf_input_read(child, data.size(), reinterpret_cast<guint8*>(data.data())))
          data = "<unreadable>";
        parts[name] = data;
      }
      g_object_unref(child);
    }
  };
  if (zip) {
    walk(zip, "");
    g_object_unref(zip);
  }
  if (err) g_error_free(err);
  g_object_unref(in);
#else
  const std::string bytes = Slurp(PathFromUtf8(path));
  auto zip = zip::Archive::Open(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), path);
  if (!zip.ok()) return parts;
  for (const zip::Entry& e : zip->entries()) {
    auto data = zip->ReadAll(e);
    parts[e.name] = data.ok() ? *data : std::string("<unreadable>");
  }
#endif
  return parts;
}

}  // namespace qm::testing
