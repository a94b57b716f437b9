// The download list as the download view builds it: its page and one row per task.
#pragma once
#include <string>

inline const char* DownloadPage() {
  return "<html><head><style>"
         "body { margin: 0; font-family: \"\xE5\xBE\xAE\xE8\xBD\xAF\xE9\x9B\x85\xE9\xBB\x91\", \"Segoe UI\", Tahoma; "
         "font-size: 12px; background-color: #f0f8ff }"
         "a { color: blue; text-decoration: none } a:hover { text-decoration: underline }"
         "div.taskItem { padding: 4px 8px; border-bottom: 1px solid #c8d8e8 }"
         "div.taskItem div.right { display: none; float: right; color: #555 }"
         "div.taskItem[status=waiting] div.right[waiting], div.taskItem[status=downloading] div.right[downloading],"
         "div.taskItem[status=finish] div.right[finish], div.taskItem[status=packing] div.right[packing],"
         "div.taskItem[status=paused] div.right[paused] { display: block }"
         ".error { display: none; color: red } [error] .error { display: inline }"
         "</style></head><body></body></html>";
}

inline std::string TaskRow(int n) {
  std::string id = std::to_string(n);
  return "<div class=\"taskItem\" status=\"waiting\" task-id=\"" + id + "\">"
         "<div class=\"right\" finish><a href=\"#\" command=\"redownload\" task-id=\"" + id + "\">Re-download</a> | "
         "<a href=\"#\" command=\"pack\" task-id=\"" + id + "\">Compress into Zip</a> | "
         "<a href=\"#\" command=\"delete\" task-id=\"" + id + "\">Delete</a></div>"
         "<div class=\"right\" waiting>Waiting...</div>"
         "<div class=\"right\" downloading>Downloading [<span></span><span class=\"error\">, <span></span></span>]...</div>"
         "<div class=\"right\" packing>Compressing into zip file...</div>"
         "<div class=\"right\" paused>Paused<span class=\"error\">[<span></span>]</span> | "
         "<a href=\"#\" command=\"delete\" task-id=\"" + id + "\">Delete</a></div>"
         "<a class=\"taskName\" title=\"Click to open in explorer\" href=\"#\" task-id=\"" + id + "\">"
         "Comic title " + id + " - Volume " + std::to_string(n % 97 + 1) + " \xE7\xAC\xAC" + std::to_string(n % 50 + 1) +
         "\xE8\xAF\x9D</a></div>";
}

inline const char16_t* StatusFor(int round, int n) {
  static const char16_t* const kStatus[] = {u"downloading", u"finish", u"paused", u"packing", u"waiting"};
  return kStatus[(round + n) % 5];
}
