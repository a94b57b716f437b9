// The download list of 2,000 rows through HTMLayout.dll in a window, with GDI fonts: the calls
// the download view makes, timed.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "TaskRows.h"
#include "htmlayout.h"

namespace {

double Ms(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

BOOL CALLBACK Collect(HELEMENT he, LPVOID p) {
  static_cast<std::vector<HELEMENT>*>(p)->push_back(he);
  return FALSE;
}
BOOL CALLBACK First(HELEMENT he, LPVOID p) {
  *static_cast<HELEMENT*>(p) = he;
  return TRUE;
}

}  // namespace

int main() {
  constexpr int kRows = 2000;
  // Never shown: painting goes through WM_PRINTCLIENT.
  HWND view = CreateWindowExW(0, HTMLayoutClassNameW(), L"", WS_POPUP, 0, 0, 800, 600, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  if (!view) return 1;
  std::string page = DownloadPage();
  auto t0 = std::chrono::steady_clock::now();
  HTMLayoutLoadHtml(view, reinterpret_cast<const BYTE*>(page.data()), static_cast<UINT>(page.size()));
  HELEMENT root = nullptr, body = nullptr;
  HTMLayoutGetRootElement(view, &root);
  HTMLayoutSelectElements(root, "body", First, &body);
  for (int i = 0; i < kRows; ++i) {
    std::string row = TaskRow(i);
    HTMLayoutSetElementHtml(body, reinterpret_cast<const BYTE*>(row.data()), static_cast<DWORD>(row.size()),
                            HL_APPEND_AFTER_LAST);
  }
  double loadMs = Ms(t0);
  t0 = std::chrono::steady_clock::now();
  HTMLayoutUpdateElement(root, TRUE);
  double firstLayoutMs = Ms(t0);

  std::vector<HELEMENT> rows;
  HTMLayoutVisitElements(body, "div", "class", L"taskItem", Collect, &rows, 1);

  t0 = std::chrono::steady_clock::now();
  for (size_t i = 0; i < rows.size(); ++i) {
    std::u16string s = StatusFor(1, static_cast<int>(i));
    HTMLayoutSetAttributeByName(rows[i], "status", reinterpret_cast<LPCWSTR>(s.c_str()));
  }
  double restyleMs = Ms(t0);
  t0 = std::chrono::steady_clock::now();
  HTMLayoutUpdateElement(root, TRUE);
  double relayoutMs = Ms(t0);

  double fullMs = 0;
  const int kRounds = 5;
  for (int r = 0; r < kRounds; ++r) {
    SetWindowPos(view, nullptr, 0, 0, r % 2 ? 780 : 800, 600, SWP_NOZORDER | SWP_NOACTIVATE);  // ends on 800
    t0 = std::chrono::steady_clock::now();
    HTMLayoutUpdateElement(root, TRUE);
    fullMs += Ms(t0);
  }
  fullMs /= kRounds;

  // What one status report costs the view: find the row, change it, lay out again.
  t0 = std::chrono::steady_clock::now();
  HELEMENT row = nullptr;
  HTMLayoutSelectElements(root, "div.taskItem[task-id=1000]", First, &row);
  double selectMs = Ms(t0);
  t0 = std::chrono::steady_clock::now();
  HTMLayoutSetAttributeByName(row, "status", L"paused");  // it was "finish"
  HTMLayoutUpdateElement(root, TRUE);
  double oneMs = Ms(t0);

  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, 800, 600);
  HGDIOBJ old = SelectObject(dc, bmp);
  t0 = std::chrono::steady_clock::now();
  const int kPaints = 10;
  for (int i = 0; i < kPaints; ++i) SendMessageW(view, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  GdiFlush();
  double paintMs = Ms(t0) / kPaints;
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);

  printf("rows: %zu\n", rows.size());
  printf("load (2000 appends):            %8.2f ms\n", loadMs);
  printf("first layout (GDI fonts):       %8.2f ms\n", firstLayoutMs);
  printf("restyle, status on every row:   %8.2f ms\n", restyleMs);
  printf("relayout after that:            %8.2f ms\n", relayoutMs);
  printf("full relayout (width change):   %8.2f ms (mean of %d)\n", fullMs, kRounds);
  printf("select one row by task-id:      %8.3f ms\n", selectMs);
  printf("one row's status + relayout:    %8.3f ms\n", oneMs);
  printf("paint of the visible page:      %8.2f ms\n", paintMs);
  DestroyWindow(view);
  return 0;
}
