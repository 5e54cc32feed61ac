#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/refresh.h"

// How the window's drop-down list of ports keeps the user's choice.

namespace {

// A drop-down list like the window's (unsorted, with strings), on a hidden parent.
class ComboFixture : public testing::Test {
protected:
    void SetUp() override {
        parent_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 300, nullptr, nullptr, nullptr, nullptr);
        combo_ = CreateWindowExW(0, L"COMBOBOX", nullptr, WS_CHILD | CBS_DROPDOWNLIST | CBS_HASSTRINGS, 0, 0, 200,
                                 200, parent_, nullptr, nullptr, nullptr);
    }
    void TearDown() override { DestroyWindow(parent_); }

    std::vector<std::wstring> Items() const {
        std::vector<std::wstring> items;
        const auto count = SendMessageW(combo_, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t text[64] = {};
            SendMessageW(combo_, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            items.emplace_back(text);
        }
        return items;
    }
    std::wstring Chosen() const {
        const auto index = SendMessageW(combo_, CB_GETCURSEL, 0, 0);
        if (index < 0) return L"(none)";
        wchar_t text[64] = {};
        SendMessageW(combo_, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
        return text;
    }
    void Choose(const std::wstring& name) {
        SendMessageW(combo_, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name.c_str()));
    }

    HWND parent_ = nullptr;
    HWND combo_ = nullptr;
};

}  // namespace

TEST_F(ComboFixture, KeepsTheChoiceWhereverItMovesIgnoringCase) {
    FillPortCombo(combo_, {L"COM4", L"COM9"});
    EXPECT_EQ(Chosen(), L"COM4") << "first port chosen when nothing was";
    Choose(L"COM9");
    FillPortCombo(combo_, {L"COM1", L"COM2", L"COM9", L"COM20"});
    EXPECT_EQ(Items(), (std::vector<std::wstring>{L"COM1", L"COM2", L"COM9", L"COM20"}));
    EXPECT_EQ(Chosen(), L"COM9");
    FillPortCombo(combo_, {L"com9"});
    EXPECT_EQ(Chosen(), L"com9");
}

TEST_F(ComboFixture, VanishedChoiceFallsBackToTheFirstAndNoPortsLeaveNoChoice) {
    FillPortCombo(combo_, {L"COM4", L"COM9"});
    Choose(L"COM9");
    FillPortCombo(combo_, {L"COM5", L"COM6"});
    EXPECT_EQ(Chosen(), L"COM5");
    FillPortCombo(combo_, {});
    EXPECT_TRUE(Items().empty());
    EXPECT_EQ(Chosen(), L"(none)");
    FillPortCombo(combo_, {L"COM7"});
    EXPECT_EQ(Chosen(), L"COM7");
}
