// What the views decide from text alone: page templates, what a link click does, and which of the
// program's resources a page's address names. Portable, so it is tested natively as well.
#pragma once

#include <map>
#include <string>

// Replaces each "%KEY%" of a UTF-8 page by its text; see the definition for the rules.
void FillTemplate(std::string& page, const std::map<std::string, std::string>& texts);
// Data that has to pass through a template (a name written into a page before it is filled)
// with each '%' doubled, so that it comes out as it went in.
std::string TemplateLiteral(const std::string& data);

enum class LinkAction {
    None,     // no href: the click is not the view's
    Execute,  // "execute": the main window opens the address in a tab
    Beep,     // a '#' link the view did not take itself
    Open,     // an http or https address, for the user's browser
    Refuse,   // anything else (file:, javascript:, a path): never handed to the shell
};
LinkAction ClassifyLink(const wchar_t* href, bool execute);
bool IsHttpAddress(const wchar_t* text);

// The resource a page asks for by address: "common.css" is COMMON of type CSS, "x.html" or "x"
// is X of type HTML (empty type). False for addresses that cannot name a resource.
bool ResourceOfAddress(const std::wstring& address, std::wstring& name, std::wstring& type);
