// The dialogs that edit the favourites tree: one favourite (add, edit, delete), the manager of
// categories and their items, and the category picker of the manager's "Move to...". Each holds
// the favourites store while it exists, so a reload of the tree waits until it is gone.
#pragma once

#include "Resource.h"
#include "wtl/Dialog.h"

#include <FavoritesStore.h>

#include <commctrl.h>

#include <string>
#include <vector>

struct JsonValue;

// The category combo boxes (extended combo boxes with images): item data is the category node.
namespace ComboBoxEx {
// Every top-level category in tree order; then the row at select (-1: none) is selected.
void FillFromFavoriteGroups(HWND combo, int select);
int InsertText(HWND combo, const FavoriteEntry& entry);
int FindByData(HWND combo, JsonValue* node);
int FindByText(HWND combo, const std::wstring& text);
std::wstring GetText(HWND combo, int index);
JsonValue* GetData(HWND combo, int index);
}  // namespace ComboBoxEx

class CFavItemDlg : public WTL::CDialogImpl<CFavItemDlg> {
public:
    enum { IDD = IDD_FAVITEM };

    // Add mode: a new favourite of the address, preselecting the category of that name.
    CFavItemDlg(HIMAGELIST images, const std::wstring& title, const std::wstring& category, const std::string& url);
    // Edit mode: the stored item.
    CFavItemDlg(HIMAGELIST images, JsonValue* item);

    BEGIN_MSG_MAP(CFavItemDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_CLOSE, OnClose)
    COMMAND_HANDLER(IDC_FAV_NAME, EN_UPDATE, OnValidate)
    COMMAND_HANDLER(IDC_FAV_CATEGORY, CBN_SELCHANGE, OnValidate)
    COMMAND_ID_HANDLER(IDC_FAV_NEW_CATEGORY, OnNewCategory)
    COMMAND_ID_HANDLER(IDC_FAV_DELETE, OnDelete)
    COMMAND_ID_HANDLER(IDOK, OnOk)
    COMMAND_ID_HANDLER(IDCANCEL, OnCancel)
    END_MSG_MAP()

    HIMAGELIST images = nullptr;
    HWND nameEdit = nullptr;
    HWND combo = nullptr;
    JsonValue* item = nullptr;
    std::wstring name;
    std::wstring category;
    std::string url;

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnClose(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnValidate(WORD, WORD, HWND, BOOL&);
    LRESULT OnNewCategory(WORD, WORD, HWND, BOOL&);
    LRESULT OnDelete(WORD, WORD, HWND, BOOL&);
    LRESULT OnOk(WORD, WORD, HWND, BOOL&);
    LRESULT OnCancel(WORD, WORD, HWND, BOOL&);
    std::wstring EditText() const;
    bool Apply();

    FavoritesHold hold_;
};

class CFavManageDlg : public WTL::CDialogImpl<CFavManageDlg> {
public:
    enum { IDD = IDD_FAVMANAGE };

    explicit CFavManageDlg(HIMAGELIST imageList) : images(imageList) {}

    BEGIN_MSG_MAP(CFavManageDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_CLOSE, OnClose)
    COMMAND_HANDLER(IDC_FAV_CATEGORY, CBN_SELCHANGE, OnCategoryChange)
    COMMAND_ID_HANDLER(IDC_FAV_NEW_CATEGORY, OnNewCategory)
    COMMAND_ID_HANDLER(IDC_FAV_RENAME_CATEGORY, OnRenameCategory)
    COMMAND_ID_HANDLER(IDC_FAV_DELETE_CATEGORY, OnDeleteCategory)
    COMMAND_ID_HANDLER(IDC_FAV_CHECK_ALL, OnCheckAll)
    COMMAND_ID_HANDLER(IDC_FAV_MOVE, OnMove)
    COMMAND_ID_HANDLER(IDC_FAV_DELETE_ITEMS, OnDeleteItems)
    COMMAND_ID_HANDLER(IDCLOSE, OnEnd)
    COMMAND_ID_HANDLER(IDCANCEL, OnEnd)
    NOTIFY_HANDLER(IDC_FAV_LIST, LVN_ITEMCHANGED, OnItemChanged)
    NOTIFY_HANDLER(IDC_FAV_LIST, LVN_ENDLABELEDITW, OnEndLabelEdit)
    END_MSG_MAP()

    HIMAGELIST images = nullptr;
    HWND combo = nullptr;
    HWND list = nullptr;
    HWND checkAll = nullptr;
    // Set when favourites were deleted (checked items or a whole category).
    bool deleted = false;

    void LoadList();

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnClose(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnCategoryChange(WORD, WORD, HWND, BOOL&);
    LRESULT OnNewCategory(WORD, WORD, HWND, BOOL&);
    LRESULT OnRenameCategory(WORD, WORD, HWND, BOOL&);
    LRESULT OnDeleteCategory(WORD, WORD, HWND, BOOL&);
    LRESULT OnCheckAll(WORD, WORD, HWND, BOOL&);
    LRESULT OnMove(WORD, WORD, HWND, BOOL&);
    LRESULT OnDeleteItems(WORD, WORD, HWND, BOOL&);
    LRESULT OnEnd(WORD, WORD, HWND, BOOL&);
    LRESULT OnItemChanged(int, LPNMHDR, BOOL&);
    LRESULT OnEndLabelEdit(int, LPNMHDR, BOOL&);
    void UpdateItemButtons();
    void RemoveRows(const std::vector<int>& rows);
    std::vector<int> CheckedRows() const;
    JsonValue* RowNode(int row) const;

    bool filling_ = false;
    FavoritesHold hold_;
};

// Run with the combo index of the manager's current category as the dialog parameter.
class CSelectFolderDlg : public WTL::CDialogImpl<CSelectFolderDlg> {
public:
    enum { IDD = IDD_SELECTFOLDER };

    explicit CSelectFolderDlg(HIMAGELIST imageList) : images(imageList) {}

    BEGIN_MSG_MAP(CSelectFolderDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_CLOSE, OnClose)
    COMMAND_ID_HANDLER(IDOK, OnOk)
    COMMAND_ID_HANDLER(IDCANCEL, OnCancel)
    END_MSG_MAP()

    HIMAGELIST images = nullptr;
    HWND combo = nullptr;
    JsonValue* members = nullptr;  // the chosen category's "c" array after OK

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnClose(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnOk(WORD, WORD, HWND, BOOL&);
    LRESULT OnCancel(WORD, WORD, HWND, BOOL&);

    FavoritesHold hold_;
};

// The seams' runners: edit mode finds the item by its address (none: 2, nothing shown).
int RunFavoriteItemDialog(HWND owner, HIMAGELIST images, const std::wstring& title, const std::wstring& category,
                          const std::string& url, bool edit);
bool RunManageFavoritesDialog(HWND owner, HIMAGELIST images);
