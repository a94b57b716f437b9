// The engine core on the download list of 2,000 rows: loading, restyling after one attribute
// changed on every row, relayout, and one row's change on its own. Text is measured by fixed
// metrics, so the figures are the engine's own work.
#include <chrono>
#include <cstdio>
#include <string>

#include "Document.h"
#include "FakeMetrics.h"
#include "TaskRows.h"
#include "Utf.h"

namespace {

struct NoHost : hl::ResourceHost {
  void RequestData(const std::u16string&, DataType, hl::Element*) override {}
  std::shared_ptr<hl::Image> DecodeImage(const uint8_t*, size_t) override { return nullptr; }
};

double Ms(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main() {
  constexpr int kRows = 2000;
  FakeMetrics fonts;
  NoHost host;
  hl::Document doc(fonts, &host);
  std::string page = DownloadPage();
  auto t0 = std::chrono::steady_clock::now();
  doc.Load(page.data(), page.size());
  std::vector<hl::Element*> rows;
  for (int i = 0; i < kRows; ++i) {
    std::string row = TaskRow(i);
    doc.SetElementHtml(doc.body(), row.data(), row.size(), 2);
  }
  for (hl::Node* n : doc.body()->children())
    if (n->IsElement()) rows.push_back(n->AsElement());
  double loadMs = Ms(t0);
  t0 = std::chrono::steady_clock::now();
  doc.Layout(800);
  double firstLayoutMs = Ms(t0);

  t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < kRows; ++i) {
    const char16_t* s = StatusFor(1, i);
    rows[static_cast<size_t>(i)]->SetAttr("status", s, std::char_traits<char16_t>::length(s));
    doc.UpdateStyles();
  }
  double restyleMs = Ms(t0);
  t0 = std::chrono::steady_clock::now();
  doc.Layout(800);
  double relayoutMs = Ms(t0);

  double fullMs = 0;
  const int kRounds = 5;
  for (int r = 0; r < kRounds; ++r) {
    t0 = std::chrono::steady_clock::now();
    doc.Layout(r % 2 ? 780 : 800);  // ends on 800, the width of the steps before and after
    fullMs += Ms(t0);
  }
  fullMs /= kRounds;

  hl::LayoutStats before = doc.stats();
  t0 = std::chrono::steady_clock::now();
  rows[kRows / 2]->SetAttr("status", u"paused", 6);  // it was "finish"
  doc.Layout(800);
  double oneMs = Ms(t0);
  hl::LayoutStats after = doc.stats();

  printf("rows: %d, content height %d px\n", kRows, doc.Height());
  printf("load (2000 appends):            %8.2f ms\n", loadMs);
  printf("first layout:                   %8.2f ms\n", firstLayoutMs);
  printf("restyle, status on every row:   %8.2f ms\n", restyleMs);
  printf("relayout after that:            %8.2f ms\n", relayoutMs);
  printf("full relayout (width change):   %8.2f ms (mean of %d)\n", fullMs, kRounds);
  printf("one row's status changed:       %8.3f ms, %d blocks laid out, %d reused, %d lines built\n", oneMs,
         after.blocksLaidOut - before.blocksLaidOut, after.blocksReused - before.blocksReused,
         after.linesBuilt - before.linesBuilt);
  return 0;
}
