// The favourites dialogs. They change the tree only through the store; a change the store refuses
// leaves the dialog and the tree as they were.
#include "FavoritesDlgs.h"

#include "AppContext.h"
#include "InfoBar.h"
#include "JsonUtil.h"
#include "LanguageTranslator.h"
#include "ListCheck.h"
#include "Messages.h"
#include "wtl/Seams.h"

#include <Tessara.h>
#include <common/CodePage.h>
#include <common/Url.h>

#include <algorithm>

namespace {

std::wstring Text(const wchar_t* section, const wchar_t* key) {
    AppContext* ctx = GetAppContext();
    return ctx ? ctx->Translator().Text(section, key) : std::wstring(key);
}

void Translate(HWND dialog, const wchar_t* section) {
    if (AppContext* ctx = GetAppContext())
        ctx->Translator().TranslateDialog(dialog, section);
}

FavoritesStore* Store() {
    AppContext* ctx = GetAppContext();
    return ctx ? &ctx->Favorites() : nullptr;
}

// The "c" array of a folder; null for an item or anything else.
JsonValue* Members(JsonValue* node) {
    JsonValue* members = nullptr;
    if (getValueType(node) == JSON_DICTIONARY)
        lookupDictionaryMember(node, "c", &members);
    return getValueType(members) == JSON_ARRAY ? members : nullptr;
}

JsonValue* Parent(JsonValue* node) {
    void* place[2] = {nullptr, nullptr};
    return valueGetParentInfo(node, place) ? static_cast<JsonValue*>(place[0]) : nullptr;
}

// Yes/no with "No" as the default.
bool Confirm(HWND owner, const wchar_t* key) {
    msg_message_box box;
    box.SetText(L"Messages", key);
    box.caption = Text(L"Global", L"Warning");
    box.flags = MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2;
    return box.Show(owner) == IDYES;
}

// The input dialog's text, or false when it was cancelled.
bool AskText(HWND owner, const std::wstring& prompt, std::wstring& text) {
    VxInputDlg input;
    input.title = prompt;
    input.text = text;
    if (input.DoModal(owner) != IDOK)
        return false;
    text = input.text;
    return true;
}

void SetComboImages(HWND combo, HIMAGELIST images) {
    if (images)
        ::SendMessageW(combo, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
}

int ComboCount(HWND combo) {
    return static_cast<int>(::SendMessageW(combo, CB_GETCOUNT, 0, 0));
}

int ComboSelection(HWND combo) {
    return static_cast<int>(::SendMessageW(combo, CB_GETCURSEL, 0, 0));
}

std::string HostOf(const std::string& url) {
    UrlMap parts;
    ParseUrl(parts, url.c_str());
    return parts.Get("host");
}

}  // namespace

namespace ComboBoxEx {

// Emptied row by row: the extended combo keeps its own item records, which a reset of the inner
// list would not free.
void FillFromFavoriteGroups(HWND combo, int select) {
    for (int i = ComboCount(combo); i > 0; --i)
        ::SendMessageW(combo, CBEM_DELETEITEM, static_cast<WPARAM>(i - 1), 0);
    FavoritesStore* store = Store();
    JsonValue* root = store ? store->root : nullptr;
    unsigned count = getValueType(root) == JSON_ARRAY ? getArraySize(root) : 0;
    for (unsigned i = 0; i < count; ++i) {
        JsonValue* member = nullptr;
        getArrayMember(root, i, &member);
        if (Members(member))
            InsertText(combo, FavoriteEntry::FromJson(member));
    }
    ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(select), 0);
}

int InsertText(HWND combo, const FavoriteEntry& entry) {
    COMBOBOXEXITEMW item = {};
    item.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE | CBEIF_LPARAM;
    item.iItem = -1;
    item.pszText = const_cast<wchar_t*>(entry.name.c_str());
    item.iImage = item.iSelectedImage = 0;
    item.lParam = reinterpret_cast<LPARAM>(entry.node);
    return static_cast<int>(::SendMessageW(combo, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

JsonValue* GetData(HWND combo, int index) {
    COMBOBOXEXITEMW item = {};
    item.mask = CBEIF_LPARAM;
    item.iItem = index;
    if (index < 0 || !::SendMessageW(combo, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
        return nullptr;
    return reinterpret_cast<JsonValue*>(item.lParam);
}

int FindByData(HWND combo, JsonValue* node) {
    for (int i = 0, count = ComboCount(combo); i < count; ++i) {
        if (GetData(combo, i) == node)
            return i;
    }
    return -1;
}

std::wstring GetText(HWND combo, int index) {
    std::wstring text(256, L'\0');
    for (;;) {
        COMBOBOXEXITEMW item = {};
        item.mask = CBEIF_TEXT;
        item.iItem = index;
        item.pszText = &text[0];
        item.cchTextMax = static_cast<int>(text.size());
        if (index < 0 || !::SendMessageW(combo, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
            return std::wstring();
        size_t length = wcsnlen(text.c_str(), text.size());
        if (length + 1 < text.size())
            return text.substr(0, length);
        text.assign(text.size() * 2, L'\0');
    }
}

int FindByText(HWND combo, const std::wstring& text) {
    for (int i = 0, count = ComboCount(combo); i < count; ++i) {
        if (GetText(combo, i) == text)
            return i;
    }
    return -1;
}

}  // namespace ComboBoxEx

CFavItemDlg::CFavItemDlg(HIMAGELIST imageList, const std::wstring& title, const std::wstring& categoryName,
                         const std::string& address)
    : images(imageList), name(title), category(categoryName), url(address) {}

CFavItemDlg::CFavItemDlg(HIMAGELIST imageList, JsonValue* node)
    : images(imageList), item(node), name(FavoriteEntry::FromJson(node).name) {}

LRESULT CFavItemDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    Translate(m_hWnd, L"FavItemDlg");
    ::SetWindowTextW(m_hWnd, Text(L"FavItemDlg", item ? L"CaptionEdit" : L"CaptionAdd").c_str());
    nameEdit = GetDlgItem(IDC_FAV_NAME);
    combo = GetDlgItem(IDC_FAV_CATEGORY);
    SetComboImages(combo, images);
    int select = -1;
    ComboBoxEx::FillFromFavoriteGroups(combo, -1);
    if (item)
        select = ComboBoxEx::FindByData(combo, Parent(Parent(item)));
    else if (!category.empty())
        select = ComboBoxEx::FindByText(combo, category);
    ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(select), 0);
    ::EnableWindow(GetDlgItem(IDC_FAV_DELETE), item != nullptr);
    ::SetWindowTextW(nameEdit, name.c_str());
    ::SendMessageW(nameEdit, EM_SETSEL, 0, -1);
    BOOL handled = TRUE;
    OnValidate(0, 0, nullptr, handled);
    ::SetFocus(nameEdit);
    return FALSE;
}

std::wstring CFavItemDlg::EditText() const {
    int length = ::GetWindowTextLengthW(nameEdit);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(nameEdit, &text[0], length + 1)));
    return text;
}

LRESULT CFavItemDlg::OnValidate(WORD, WORD, HWND, BOOL&) {
    bool valid = ComboSelection(combo) >= 0 && ::GetWindowTextLengthW(nameEdit) > 0;
    ::EnableWindow(GetDlgItem(IDOK), valid);
    return 0;
}

LRESULT CFavItemDlg::OnNewCategory(WORD, WORD, HWND, BOOL&) {
    FavoriteEntry entry;
    entry.name = category;
    FavoritesStore* store = Store();
    if (!AskText(m_hWnd, Text(L"FavItemDlg", L"Input"), entry.name) || !store)
        return 0;
    if (!store->AddFolder(nullptr, entry)) {
        WTL::PlayMessageBeep(MB_ICONWARNING);
        return 0;
    }
    ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(ComboBoxEx::InsertText(combo, entry)), 0);
    BOOL handled = TRUE;
    return OnValidate(0, 0, nullptr, handled);
}

LRESULT CFavItemDlg::OnDelete(WORD, WORD, HWND, BOOL&) {
    FavoritesStore* store = Store();
    if (!item || !store || !Confirm(m_hWnd, L"DelFav"))
        return 0;
    FavoriteEntry entry = FavoriteEntry::FromJson(item);
    store->Remove(entry);
    item = nullptr;
    EndDialog(IDOK);
    return 0;
}

// Enter reaches here while the button is disabled too: the fields are checked again.
bool CFavItemDlg::Apply() {
    FavoritesStore* store = Store();
    JsonValue* target = ComboBoxEx::GetData(combo, ComboSelection(combo));
    std::wstring text = EditText();
    if (!store || !target || text.empty())
        return false;
    if (!item) {
        FavoriteLink link(text, url);
        return store->AddItem(Members(target), link);
    }
    // Moved before it is renamed, so a refused move changes nothing.
    if (Parent(Parent(item)) != target && !store->Move(item, Members(target)))
        return false;
    FavoriteEntry entry = FavoriteEntry::FromJson(item);
    store->Rename(entry, text);
    return true;
}

LRESULT CFavItemDlg::OnOk(WORD, WORD, HWND, BOOL&) {
    if (!Apply()) {
        WTL::PlayMessageBeep(MB_ICONWARNING);
        return 0;
    }
    EndDialog(IDOK);
    return 0;
}

LRESULT CFavItemDlg::OnCancel(WORD, WORD, HWND, BOOL&) {
    EndDialog(IDCANCEL);
    return 0;
}

LRESULT CFavItemDlg::OnClose(UINT, WPARAM, LPARAM, BOOL&) {
    EndDialog(IDCANCEL);
    return 0;
}

LRESULT CFavManageDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    Translate(m_hWnd, L"FavManageDlg");
    combo = GetDlgItem(IDC_FAV_CATEGORY);
    list = GetDlgItem(IDC_FAV_LIST);
    checkAll = GetDlgItem(IDC_FAV_CHECK_ALL);
    SetComboImages(combo, images);
    ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    if (images)
        ListView_SetImageList(list, images, LVSIL_SMALL);
    RECT client = {};
    ::GetClientRect(list, &client);
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH;
    column.cx = std::max<int>(client.right - ::GetSystemMetrics(SM_CXVSCROLL) - 10 - 100, 40);
    ListView_InsertColumn(list, 0, &column);
    column.cx = 100;
    ListView_InsertColumn(list, 1, &column);
    ComboBoxEx::FillFromFavoriteGroups(combo, 0);
    LoadList();
    return TRUE;
}

void CFavManageDlg::LoadList() {
    filling_ = true;
    ::SendMessageW(checkAll, BM_SETCHECK, BST_UNCHECKED, 0);
    ListView_DeleteAllItems(list);
    ::EnableWindow(GetDlgItem(IDC_FAV_MOVE), FALSE);
    ::EnableWindow(GetDlgItem(IDC_FAV_DELETE_ITEMS), FALSE);
    JsonValue* members = Members(ComboBoxEx::GetData(combo, ComboSelection(combo)));
    unsigned count = getArraySize(members);
    for (unsigned i = 0; i < count; ++i) {
        JsonValue* member = nullptr;
        getArrayMember(members, i, &member);
        if (getValueType(member) != JSON_DICTIONARY || Members(member))
            continue;
        FavoriteLink link = FavoriteLink::FromJsonWithUrl(member);
        LVITEMW row = {};
        row.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
        row.iItem = ListView_GetItemCount(list);
        row.pszText = const_cast<wchar_t*>(link.name.c_str());
        row.iImage = 1;
        row.lParam = reinterpret_cast<LPARAM>(member);
        int at = ListView_InsertItem(list, &row);
        if (at < 0)
            continue;
        std::wstring host = ToWide(HostOf(link.url), CP_UTF8);
        ListView_SetItemText(list, at, 1, const_cast<wchar_t*>(host.c_str()));
    }
    filling_ = false;
}

JsonValue* CFavManageDlg::RowNode(int row) const {
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    return ListView_GetItem(list, &item) ? reinterpret_cast<JsonValue*>(item.lParam) : nullptr;
}

std::vector<int> CFavManageDlg::CheckedRows() const {
    std::vector<int> rows;
    for (int i = 0, count = ListView_GetItemCount(list); i < count; ++i) {
        if (ListView_GetCheckState(list, i))
            rows.push_back(i);
    }
    return rows;
}

// From the last row up, so the indexes still to remove stay valid.
void CFavManageDlg::RemoveRows(const std::vector<int>& rows) {
    filling_ = true;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        ListView_DeleteItem(list, *it);
    filling_ = false;
}

void CFavManageDlg::UpdateItemButtons() {
    bool ticked = ListCheckAllState(list, checkAll) != 0;
    ::EnableWindow(GetDlgItem(IDC_FAV_MOVE), ticked && ComboCount(combo) >= 2);
    ::EnableWindow(GetDlgItem(IDC_FAV_DELETE_ITEMS), ticked);
}

LRESULT CFavManageDlg::OnItemChanged(int, LPNMHDR header, BOOL&) {
    auto* change = reinterpret_cast<NMLISTVIEW*>(header);
    if (!filling_ && (change->uChanged & LVIF_STATE) &&
        ((change->uNewState ^ change->uOldState) & LVIS_STATEIMAGEMASK))
        UpdateItemButtons();
    return 0;
}

// A cancelled edit comes with no text at all.
LRESULT CFavManageDlg::OnEndLabelEdit(int, LPNMHDR header, BOOL&) {
    auto* info = reinterpret_cast<NMLVDISPINFOW*>(header);
    FavoritesStore* store = Store();
    JsonValue* node = RowNode(info->item.iItem);
    if (!info->item.pszText || !info->item.pszText[0] || !node || !store)
        return FALSE;
    FavoriteEntry entry = FavoriteEntry::FromJson(node);
    store->Rename(entry, info->item.pszText);
    return TRUE;
}

LRESULT CFavManageDlg::OnCategoryChange(WORD, WORD, HWND, BOOL&) {
    LoadList();
    return 0;
}

LRESULT CFavManageDlg::OnCheckAll(WORD, WORD, HWND, BOOL&) {
    ListToggleCheckAll(list, checkAll);
    UpdateItemButtons();
    return 0;
}

LRESULT CFavManageDlg::OnNewCategory(WORD, WORD, HWND, BOOL&) {
    FavoriteEntry entry;
    FavoritesStore* store = Store();
    if (!store || !AskText(m_hWnd, Text(L"FavItemDlg", L"Input"), entry.name))
        return 0;
    if (!store->AddFolder(nullptr, entry)) {
        WTL::PlayMessageBeep(MB_ICONWARNING);
        return 0;
    }
    ComboBoxEx::InsertText(combo, entry);
    UpdateItemButtons();
    return 0;
}

LRESULT CFavManageDlg::OnRenameCategory(WORD, WORD, HWND, BOOL&) {
    int selected = ComboSelection(combo);
    JsonValue* node = ComboBoxEx::GetData(combo, selected);
    FavoritesStore* store = Store();
    if (!node || !store)
        return 0;
    FavoriteEntry entry = FavoriteEntry::FromJson(node);
    std::wstring text = entry.name;
    if (!AskText(m_hWnd, Text(L"FavManageDlg", L"NewName"), text))
        return 0;
    store->Rename(entry, text);
    COMBOBOXEXITEMW item = {};
    item.mask = CBEIF_TEXT;
    item.iItem = selected;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    ::SendMessageW(combo, CBEM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    // The closed combo shows the selection's old text until it is selected again.
    ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
    return 0;
}

LRESULT CFavManageDlg::OnDeleteCategory(WORD, WORD, HWND, BOOL&) {
    int selected = ComboSelection(combo);
    JsonValue* node = ComboBoxEx::GetData(combo, selected);
    FavoritesStore* store = Store();
    if (!node || !store || !Confirm(m_hWnd, L"DelFolder"))
        return 0;
    FavoriteEntry entry = FavoriteEntry::FromJson(node);
    store->Remove(entry);
    deleted = true;
    ::SendMessageW(combo, CBEM_DELETEITEM, static_cast<WPARAM>(selected), 0);
    int remaining = ComboCount(combo);
    if (remaining > 0) {
        ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(std::min(selected, remaining - 1)), 0);
        LoadList();
        return 0;
    }
    ListView_DeleteAllItems(list);
    msg_message_box box;
    box.SetText(L"Messages", L"FavEmpty");
    box.flags = MB_ICONINFORMATION;
    box.Show(m_hWnd);
    EndDialog(IDOK);
    return 0;
}

LRESULT CFavManageDlg::OnDeleteItems(WORD, WORD, HWND, BOOL&) {
    std::vector<int> rows = CheckedRows();
    FavoritesStore* store = Store();
    if (rows.empty() || !store || !Confirm(m_hWnd, L"DelItems"))
        return 0;
    for (int row : rows) {
        FavoriteEntry entry = FavoriteEntry::FromJson(RowNode(row));
        store->Remove(entry);
    }
    RemoveRows(rows);
    deleted = true;
    UpdateItemButtons();
    return 0;
}

// Only rows whose item really moved leave the list: an item the target refused stays ticked.
LRESULT CFavManageDlg::OnMove(WORD, WORD, HWND, BOOL&) {
    std::vector<int> rows = CheckedRows();
    FavoritesStore* store = Store();
    if (rows.empty() || !store)
        return 0;
    CSelectFolderDlg picker(images);
    if (picker.DoModal(m_hWnd, ComboSelection(combo)) != IDOK)
        return 0;
    std::vector<int> moved;
    for (int row : rows) {
        JsonValue* node = RowNode(row);
        if (node && (Parent(node) == picker.members || store->Move(node, picker.members)))
            moved.push_back(row);
    }
    if (moved.size() != rows.size())
        WTL::PlayMessageBeep(MB_ICONWARNING);
    RemoveRows(moved);
    UpdateItemButtons();
    return 0;
}

LRESULT CFavManageDlg::OnEnd(WORD, WORD, HWND, BOOL&) {
    EndDialog(IDOK);
    return 0;
}

LRESULT CFavManageDlg::OnClose(UINT, WPARAM, LPARAM, BOOL&) {
    EndDialog(IDOK);
    return 0;
}

LRESULT CSelectFolderDlg::OnInitDialog(UINT, WPARAM, LPARAM current, BOOL&) {
    Translate(m_hWnd, L"SelectFolderDlg");
    combo = GetDlgItem(IDC_FAV_CATEGORY);
    SetComboImages(combo, images);
    ComboBoxEx::FillFromFavoriteGroups(combo, -1);
    int index = static_cast<int>(current);
    if (index >= 0 && index < ComboCount(combo))
        ::SendMessageW(combo, CBEM_DELETEITEM, static_cast<WPARAM>(index), 0);
    ::SendMessageW(combo, CB_SETCURSEL, 0, 0);
    ::EnableWindow(GetDlgItem(IDOK), ComboCount(combo) > 0);
    return TRUE;
}

LRESULT CSelectFolderDlg::OnOk(WORD, WORD, HWND, BOOL&) {
    JsonValue* node = ComboBoxEx::GetData(combo, ComboSelection(combo));
    if (!node)
        return 0;
    members = Members(node);
    EndDialog(IDOK);
    return 0;
}

LRESULT CSelectFolderDlg::OnCancel(WORD, WORD, HWND, BOOL&) {
    EndDialog(IDCANCEL);
    return 0;
}

LRESULT CSelectFolderDlg::OnClose(UINT, WPARAM, LPARAM, BOOL&) {
    EndDialog(IDCANCEL);
    return 0;
}

int RunFavoriteItemDialog(HWND owner, HIMAGELIST images, const std::wstring& title, const std::wstring& category,
                          const std::string& url, bool edit) {
    FavoritesStore* store = Store();
    if (!store)
        return IDCANCEL;
    if (!edit) {
        CFavItemDlg dialog(images, title, category, url);
        return static_cast<int>(dialog.DoModal(owner));
    }
    JsonValue* item = store->FindItem(url.c_str());
    if (!item)
        return IDCANCEL;
    CFavItemDlg dialog(images, item);
    return static_cast<int>(dialog.DoModal(owner));
}

bool RunManageFavoritesDialog(HWND owner, HIMAGELIST images) {
    CFavManageDlg dialog(images);
    dialog.DoModal(owner);
    return dialog.deleted;
}
