// One word without spaces (an address or an encoded blob in an introduction) laid out in boxes of
// several widths: time and the growth of the process's peak memory. Text is measured by the fixed
// test metrics, and on Windows also by GDI fonts.
//   htmlayout_longword_bench [chars [width [gdi]]]   (default 100000 chars in 200 px, test metrics)
// Peak memory cannot be reset on Windows, so each case is a process of its own: bench/htmlayout/run.sh
// runs the table natively and under Wine.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>

#include "GdiFonts_win.h"
#else
#include <fstream>
#endif

#include "Document.h"
#include "FakeMetrics.h"

namespace {

struct NoHost : hl::ResourceHost {
  void RequestData(const std::u16string&, DataType, hl::Element*) override {}
  std::shared_ptr<hl::Image> DecodeImage(const uint8_t*, size_t) override { return nullptr; }
};

#ifdef _WIN32
// The working set: Wine keeps neither private bytes nor a peak of the page-file usage.
void Memory(double& nowMb, double& peakMb) {
  PROCESS_MEMORY_COUNTERS pmc = {};
  pmc.cb = sizeof(pmc);
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
  nowMb = pmc.WorkingSetSize / 1048576.0;
  peakMb = pmc.PeakWorkingSetSize / 1048576.0;
}
#else
// Resident set; writing 5 to clear_refs resets the peak, so the figure is the case's own.
void Memory(double& nowMb, double& peakMb) {
  std::ifstream in("/proc/self/status");
  std::string line;
  nowMb = peakMb = 0;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) nowMb = std::atof(line.c_str() + 6) / 1024.0;
    if (line.rfind("VmHWM:", 0) == 0) peakMb = std::atof(line.c_str() + 6) / 1024.0;
  }
}
#endif

void ResetPeak() {
#ifndef _WIN32
  std::ofstream("/proc/self/clear_refs") << "5";
#endif
}

int RunCase(int chars, int width, bool gdi) {
  FakeMetrics fake;
  hl::FontMetrics* fonts = &fake;
#ifdef _WIN32
  if (gdi) fonts = &hl::GdiFonts::Instance();
#else
  if (gdi) return 1;
#endif
  NoHost host;
  std::string page = "<style>body { margin: 0; font-size: 13px; font-family: sans-serif }</style><div>";
  for (int i = 0; i < chars; ++i) page.push_back(static_cast<char>('a' + i % 26));
  page += "</div>";
  hl::Document doc(*fonts, &host);
  doc.Load(page.data(), page.size());
  doc.UpdateStyles();
  ResetPeak();
  double before, peak0;
  Memory(before, peak0);
  auto t0 = std::chrono::steady_clock::now();
  doc.Layout(width);
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  double now, peak;
  Memory(now, peak);
  printf("word of %6d chars, box %4d px, %-4s metrics: %9.2f ms, %6d px high, peak memory +%7.2f MB\n", chars,
         width, gdi ? "gdi" : "fake", ms, doc.Height(), peak - before);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int chars = argc > 1 ? std::atoi(argv[1]) : 100000;
  int width = argc > 2 ? std::atoi(argv[2]) : 200;
  return RunCase(chars, width, argc > 3 && std::string(argv[3]) == "gdi");
}
