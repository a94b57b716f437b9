// The message catalogue: names the subscribers rely on, payload helpers, and the message box that
// the main frame shows for other windows.
#include "CoreTestSupport.h"

#include <Messages.h>

#include <gtest/gtest.h>

namespace {

TEST(Catalogue, NamesAndKeepFlags) {
    msg_zip_progress zip;
    msg_message_box sentBox;
    msg_message_box postedBox(L"text");
    msg_download_notify notify(msg_download_notify::kIdle);
    msg_set_input_text input(L"x");
    struct Case {
        const VxMsg& msg;
        const char* name;
        int keep;
    } cases[] = {
        {zip, "zip_progress", 1},
        {sentBox, "message_box", 1},
        {postedBox, "message_box", 0},
        {notify, "downloader_notify", 0},
        {input, "set_input_text", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.msg.name, c.name);
        EXPECT_EQ(c.msg.keep, c.keep) << c.name;
        EXPECT_EQ(c.msg.refcount.load(), 0) << c.name;
    }
    EXPECT_EQ(sentBox.flags, 0x40);
    EXPECT_EQ(sentBox.result, -1);
    EXPECT_FALSE(input.select);
    msg_search search(L"word");
    EXPECT_TRUE(search.kinds.empty());
    EXPECT_EQ(search.requester, 0);
}

TEST(Catalogue, UpdateCoverAddress) {
    struct Case {
        const wchar_t* path;
        const wchar_t* cover;
    } cases[] = {
        {L"", L"noimg.gif"},
        {L"C:\\Vellix\\CoverCache\\abc", L"file://C:\\Vellix\\CoverCache\\abc"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(msg_update_cover(c.path).cover, c.cover);
}

TEST(Catalogue, GrabKeepsOneVolumePerAddress) {
    msg_grab grab;
    EXPECT_EQ(grab.AddItem(nullptr, L"First"), 0u);
    EXPECT_EQ(grab.AddItem(nullptr, L"Second"), 1u);
    struct Case {
        size_t item;
        const char* url;
        bool added;
    } cases[] = {
        {0, "http://a/1", true},
        {0, "http://a/1", false},  // same address again
        {0, "http://a/2", true},
        {1, "http://a/1", true},   // another comic may hold it
        {2, "http://a/3", false},  // no such item: refused, not thrown
        {static_cast<size_t>(-1), "http://a/4", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(grab.AddVolume(c.item, VolumeItem{L"vol", c.url}), c.added) << c.item << " " << c.url;
    ASSERT_EQ(grab.items.size(), 2u);
    EXPECT_EQ(grab.items[0].volumes.size(), 2u);
    EXPECT_EQ(grab.items[1].volumes.size(), 1u);
    EXPECT_EQ(grab.items[0].name, L"First");
}

class MessageBoxTest : public ::testing::Test {
protected:
    ScopedAppFolder folder;
    AppContext ctx;
};

struct CountedBox : msg_message_box {
    using msg_message_box::msg_message_box;
    ~CountedBox() override { ++deleted; }
    static int deleted;
};
int CountedBox::deleted = 0;

// Stands for the main frame: shows the box over its window.
struct BoxOwner : TestObserver {
    void OnBox(msg_message_box* msg) { msg->Show(window); }
};

TEST_F(MessageBoxTest, ASentBoxAnswersThroughTheSendersObject) {
    BoxOwner owner;
    owner.id = ctx.Messages().RegisterObserver(owner.window, static_cast<BoxOwner*>(&owner));
    ctx.Messages().Subscribe(owner.id, "message_box", MsgThunk<&BoxOwner::OnBox>);

    CountedBox::deleted = 0;
    CountedBox box;
    box.SetText(L"Messages", L"NoResults", {{L"KEYWORD", L"kw"}});
    box.flags = MB_YESNO | MB_ICONQUESTION;
    {
        DialogAnswerer answer(IDNO);
        ASSERT_TRUE(ctx.Messages().SendTo(owner.id, &box));
        EXPECT_EQ(answer.Caption(), L"Vellix");  // empty caption: the program's name
        EXPECT_NE(answer.Text().find(L"\"kw\""), std::wstring::npos) << answer.Text();
    }
    EXPECT_EQ(box.result, IDNO);
    EXPECT_EQ(box.caption, L"Vellix");
    EXPECT_EQ(box.refcount.load(), 0);
    EXPECT_EQ(CountedBox::deleted, 0);

    // Posted, not kept: shown with its own caption, then freed by the receiver.
    auto* posted = new CountedBox(L"posted text");
    posted->caption = L"Own Caption";
    DialogAnswerer answer(IDOK);
    ASSERT_TRUE(ctx.Messages().PostTo(owner.id, posted));
    ASSERT_TRUE(PumpUntil([] { return CountedBox::deleted == 1; }));
    EXPECT_EQ(answer.Caption(), L"Own Caption");
    EXPECT_EQ(answer.Text(), L"posted text");
}

TEST_F(MessageBoxTest, SetInfoTakesItsTextFromTheInfosSection) {
    EXPECT_EQ(msg_set_info(msg_set_info::InfosKey{L"Initializing"}).text, L"Initializing, please wait...");
    EXPECT_EQ(msg_set_info(msg_set_info::InfosKey{L"NoSuchKey"}).text, L"NoSuchKey");
    EXPECT_EQ(msg_set_info(std::wstring(L"ready text")).text, L"ready text");
}

TEST(Catalogue, TextsWithoutAContextShowTheirKeys) {
    ASSERT_EQ(GetAppContext(), nullptr);
    EXPECT_EQ(msg_set_info(msg_set_info::InfosKey{L"Initializing"}).text, L"Initializing");
    msg_message_box box;
    box.SetText(L"Messages", L"OpenDBFailed");
    EXPECT_EQ(box.text, L"OpenDBFailed");
}

TEST_F(MessageBoxTest, ZipProgressIsOneObjectReusedForEveryStep) {
    struct Dialog : TestObserver {
        void OnProgress(msg_zip_progress* msg) { seen.push_back(msg->written * 100 / msg->count); }
        std::vector<int> seen;
    } dialog;
    dialog.id = ctx.Messages().RegisterObserver(dialog.window, static_cast<Dialog*>(&dialog));
    ctx.Messages().Subscribe(dialog.id, "zip_progress", MsgThunk<&Dialog::OnProgress>);
    auto* progress = new msg_zip_progress(12);
    progress->count = 4;
    for (int written = 1; written <= 4; ++written) {
        progress->written = written;
        std::thread worker([&] { EXPECT_TRUE(ctx.Messages().SendTo(dialog.id, progress)); });
        ASSERT_TRUE(PumpUntil([&] { return dialog.seen.size() == static_cast<size_t>(written); }));
        worker.join();
        EXPECT_EQ(progress->refcount.load(), 0);
    }
    EXPECT_EQ(dialog.seen, (std::vector<int>{25, 50, 75, 100}));
    delete progress;  // the zip job owns it
}

}  // namespace
