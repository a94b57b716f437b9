#include "StepsTestSupport.h"

#include <AppDatabase.h>
#include <DebugSettings.h>
#include <JsonUtil.h>
#include <LanguageTranslator.h>
#include <MsgCenter.h>
#include <ScriptCatalog.h>
#include <ScriptManager.h>
#include <ServiceApi.h>
#include <Tessara.h>
#include <common/CodePage.h>
#include <common/Url.h>
#include <wtl/Seams.h>

#include <InfoBar.h>
#include <UiSeams.h>

#include <gtest/gtest.h>

namespace {

StepsWorld* g_world = nullptr;

class ClearScriptCache : public VxDBTask {
public:
    ClearScriptCache() : VxDBTask(false) {}
    void Execute(sqlite3** db) override {
        SqlStatement statement(*db, "DELETE FROM ScriptCache2");
        ran = statement.Run();
    }
    int ran = -1;
};

void RecordRedirect(const char* verb, const char* target) {
    g_world->frame.redirects.push_back(std::string(verb ? verb : "") + "|" + (target ? target : ""));
}

struct StepsEnvironment : ::testing::Environment {
    void SetUp() override {
        g_world = new StepsWorld();
        g_world->folder.reset(new ScopedAppFolder());
        const char* debug = getenv("VELLIX_UI_TEST_DEBUG_INI");
        g_world->debugIni = debug && debug[0] == '1';
        if (g_world->debugIni) {
            std::wstring folder = g_world->folder->path();
            std::string local = ToNarrow(folder + L"local.lua", CP_ACP);
            std::string broken = ToNarrow(folder + L"broken.lua", CP_ACP);
            // The local scripts: the information is the page's JSON; the hook sends two addresses
            // elsewhere than the web.
            WriteBytes(folder + L"local.lua",
                       "strVersion = \"1.0.0.0\"\nstrAppVersion = \"2.5.0.35\"\n"
                       "function Vellix_ParseInfo(url, page) return vxapi2.ParseJSON(page) end\n"
                       "function Vellix_ParseVolumes(url, page) return {} end\n"
                       "function Vellix_BeforeNavigate(url, data)\n"
                       "  if url:match('/tojs/') then vxapi2.Set('CurrentURL', 'javascript:alert(1)') return true end\n"
                       "  if url:match('/tofile/') then vxapi2.Set('CurrentURL', 'file:///C:/windows/win.ini') return true end\n"
                       "  if url:match('/badstart/') then vxapi2.Set('CurrentURL', 'http://') return true end\n"
                       "  return false\n"
                       "end\n");
            WriteBytes(folder + L"broken.lua", "this is not lua (\n");
            WriteBytes(folder + L"debug.ini", "[Config]\r\nSaveCloud=0\r\n[Scripts]\r\nlocalhost=" + local +
                                                  "\r\nbroken.local.test=" + broken + "\r\n");
        }
        g_world->ctx.reset(new AppContext());
        ASSERT_TRUE(g_world->ctx->Database().Open());
        ASSERT_EQ(g_world->ctx->Debug().present, g_world->debugIni);
        FrameRecorder& frame = g_world->frame;
        MsgCenter& bus = g_world->ctx->Messages();
        frame.window.id = bus.RegisterObserver(frame.window.window, &frame);
        ASSERT_EQ(frame.window.id, 0) << "the test window must be the process's first observer";
        bus.Subscribe(0, "message_box", MsgThunk<&FrameRecorder::OnMessageBox>);
        bus.Subscribe(0, "grab", MsgThunk<&FrameRecorder::OnGrab>);
        bus.Subscribe(0, "execute", MsgThunk<&FrameRecorder::OnExecute>);
        Service();
    }
    void TearDown() override {
        WTL::ResetSeams();
        ResetUiSeams();
        SetShellOpener(nullptr);
        g_world->frame.grabs.clear();
        g_world->ctx->Scripts().ReleaseAll();
        g_world->frame.window.Destroy();
        g_world->ctx.reset();
        g_world->folder.reset();
        delete g_world;
        g_world = nullptr;
    }
};

::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new StepsEnvironment);

}  // namespace

StepsWorld& World() {
    return *g_world;
}

bool DebugRun() {
    return g_world->debugIni;
}

void FrameRecorder::OnMessageBox(msg_message_box* msg) {
    boxes.push_back(SeenBox{msg->text, msg->flags, msg->keep != 0});
    msg->Show(window.window);
}

void FrameRecorder::OnGrab(msg_grab* msg) {
    for (const GrabItem& item : msg->items)
        grabs.push_back(SeenGrab{item.name, item.volumes, item.context});
}

void FrameRecorder::OnExecute(msg_execute* msg) {
    executes.push_back(msg->url);
}

void FrameRecorder::Clear() {
    boxes.clear();
    grabs.clear();
    executes.clear();
    shellOpens.clear();
    examples.clear();
    redirects.clear();
    answer = IDNO;
    exampleAnswer = 2;
}

void ForgetScripts() {
    g_world->ctx->Scripts().ReleaseAll();
    ClearScriptCache clear;
    g_world->ctx->Database().RunSync(&clear);
    EXPECT_EQ(clear.ran, SQLITE_DONE);
}

void ResetWorld() {
    Service().Control("reset");
    FrameRecorder& frame = g_world->frame;
    frame.Clear();
    SetStepRequestTimeoutForTesting(0);
    SetStepStartForTesting(nullptr);
    WTL::ResetSeams();
    ResetUiSeams();
    WTL::Seams().messageBox = [&frame](HWND, const wchar_t*, const wchar_t*, UINT) { return frame.answer; };
    WTL::Seams().shellOpen = [&frame](HWND, const wchar_t* file, const wchar_t*, int) {
        frame.shellOpens.push_back(file ? file : L"");
        return true;
    };
    Dialogs().example = [&frame](HWND, const std::wstring& example) {
        frame.examples.push_back(example);
        return frame.exampleAnswer;
    };
    SetShellOpener(RecordRedirect);
    ForgetScripts();
    g_world->ctx->Database().SetConfig("AdultEnsure", "0");
    std::unique_ptr<Answer> answer =
        Fetch(ConfigUrl("en"), [](Orvane::OvRequest* r) { PrepareConfigRequest(r, false); });
    ASSERT_TRUE(answer->response);
    ConfigAnswer config = ReadConfigAnswer(*answer->response);
    ASSERT_TRUE(g_world->ctx->Catalog().Load(std::make_shared<std::string>(config.body)));
    Service().Control("clear_log");
}

std::string LogMember(const std::string& path, int index, const char* dict, const char* name) {
    JsonTree log(ParseJsonText(ServiceLog(path)));
    JsonValue* entry = nullptr;
    JsonValue* members = nullptr;
    JsonValue* value = nullptr;
    if (!getArrayMember(log.get(), static_cast<unsigned>(index), &entry) ||
        !lookupDictionaryMember(entry, dict, &members) || !lookupDictionaryMember(members, name, &value) ||
        getValueType(value) != 3)
        return std::string();
    return std::string(getCString(value), static_cast<size_t>(getStringLength(value)));
}
