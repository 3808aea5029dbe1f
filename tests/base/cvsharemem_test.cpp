#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "base/cvhandle.h"
#include "base/cvsharemem.h"
#include "probe_client.h"
#include "support/test_support.h"

namespace {

// Names are unique per test program run, so parallel runs never meet.
std::wstring AreaName(const wchar_t* tag)
{
    return L"cvtest-shm-" + std::to_wstring(GetCurrentProcessId()) + L"-" + tag;
}

probe::Result Probe(const std::wstring& args) { return probe::Run(probe::Program(), args); }

std::string Area(const std::wstring& name, int size)
{
    std::string bytes(static_cast<size_t>(size), '\0');
    if (!ReadShareMem2(name.c_str(), &bytes[0], size, 0)) return "<unreadable>";
    return bytes;
}

}  // namespace

TEST(ShareMem, AnAreaLivesWhileSomeHandleHoldsIt)
{
    const std::wstring name = AreaName(L"life");
    EXPECT_EQ(isExistsShareMem(name.c_str()), 0);
    CvHandle first(CreateShareMem(name.c_str(), 4096));
    ASSERT_TRUE(first);
    EXPECT_EQ(isExistsShareMem(name.c_str()), 1);

    CvHandle second(CreateShareMem(name.c_str(), 8192));  // opens the existing area
    ASSERT_TRUE(second);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(WriteShareMem(name.c_str(), L"x", 2046), 1);  // its size is still 4096 bytes
    EXPECT_EQ(WriteShareMem(name.c_str(), L"x", 2047), 0);

    first.reset();
    EXPECT_EQ(isExistsShareMem(name.c_str()), 1);
    second.reset();
    EXPECT_EQ(isExistsShareMem(name.c_str()), 0);

    CvHandle event(CreateEventW(nullptr, FALSE, FALSE, AreaName(L"event").c_str()));
    struct Case {
        const wchar_t* what;
        const wchar_t* name;
        DWORD size;
    };
    const std::wstring eventName = AreaName(L"event"), other = AreaName(L"other");
    const Case refused[] = {
        {L"no name", nullptr, 4096},
        {L"empty name", L"", 4096},
        {L"size 0", other.c_str(), 0},
        {L"an event's name", eventName.c_str(), 4096},
    };
    for (const Case& c : refused) {
        CvHandle h(CreateShareMem(c.name, c.size));
        EXPECT_FALSE(h) << cvtest::Narrow(c.what);
    }
    EXPECT_EQ(isExistsShareMem(eventName.c_str()), 0);
}

TEST(ShareMem, TextGoesBothWaysBetweenTwoProcesses)
{
    const std::wstring name = AreaName(L"text");
    CvHandle area(CreateShareMem(name.c_str(), 4096));
    ASSERT_TRUE(area);

    // As the logger does: each line is written where the previous one ended,
    // over its terminator.
    const std::wstring first = L"first line|", second = L"zweite Zeile \u00fc \u4e2d";
    ASSERT_EQ(WriteShareMem(name.c_str(), first.c_str(), 0), 1);
    ASSERT_EQ(WriteShareMem(name.c_str(), second.c_str(), static_cast<int>(first.size())), 1);
    probe::Result read = Probe(L"shm-read " + name);
    EXPECT_EQ(read["read"], "1 text=" + cvtest::Narrow(first + second)) << read.output;

    const std::wstring fromChild = L"from the child \u00e9";
    probe::Result write = Probe(L"shm-write " + name + L" \"" + fromChild + L"\" 3");
    EXPECT_EQ(write["write"], "1") << write.output;
    wchar_t text[64];
    EXPECT_EQ(ReadShareMem(name.c_str(), text), 1);
    EXPECT_EQ(std::wstring(text), L"fir" + fromChild);
}

TEST(ShareMem, BlocksGoBothWaysAtByteOffsets)
{
    const std::wstring name = AreaName(L"blocks");
    CvHandle area(CreateShareMem(name.c_str(), 8192));
    ASSERT_TRUE(area);

    const unsigned char bytes[] = {1, 2, 3, 4, 5};
    ASSERT_EQ(WriteShareMem2(name.c_str(), bytes, 5, 4094), 1);  // across the page boundary
    probe::Result read = Probe(L"shm-read2 " + name + L" 7 4093");
    EXPECT_EQ(read["read2"], "1 00010203040500") << read.output;

    probe::Result write = Probe(L"shm-write2 " + name + L" a0b0c0 8189");  // ends at the area's end
    EXPECT_EQ(write["write2"], "1") << write.output;
    unsigned char back[3] = {};
    EXPECT_EQ(ReadShareMem2(name.c_str(), back, 3, 8189), 1);
    EXPECT_EQ(probe::Hex(back, 3), "a0b0c0");
}

TEST(ShareMem, WithoutAnAreaEverythingGivesZeroAndWritesNothing)
{
    CvHandle event(CreateEventW(nullptr, FALSE, FALSE, AreaName(L"notanarea").c_str()));
    for (const std::wstring& name : {AreaName(L"missing"), AreaName(L"notanarea"), std::wstring()}) {
        SCOPED_TRACE(cvtest::Narrow(name));
        wchar_t text[8];
        wmemset(text, L'#', 8);
        unsigned char data[8];
        memset(data, 0xEE, 8);
        EXPECT_EQ(isExistsShareMem(name.c_str()), 0);
        EXPECT_EQ(WriteShareMem(name.c_str(), L"abc", 0), 0);
        EXPECT_EQ(ReadShareMem(name.c_str(), text), 0);
        EXPECT_EQ(ReadShareMem(name.c_str(), text, 8), 0);
        EXPECT_EQ(WriteShareMem2(name.c_str(), data, 8, 0), 0);
        EXPECT_EQ(ReadShareMem2(name.c_str(), data, 8, 0), 0);
        EXPECT_EQ(std::wstring(text, 8), L"########");
        EXPECT_EQ(probe::Hex(data, 8), "eeeeeeeeeeeeeeee");
    }
    probe::Result read = Probe(L"shm-read " + AreaName(L"missing"));
    EXPECT_EQ(read["read"], "0 text=") << read.output;
    EXPECT_EQ(isExistsShareMem(nullptr), 0);
}

TEST(ShareMem, PositionsPastTheEndAreRefusedWithoutTouchingTheArea)
{
    const std::wstring name = AreaName(L"bounds");
    CvHandle area(CreateShareMem(name.c_str(), 4096));  // one page: the view ends at the area's end
    ASSERT_TRUE(area);
    const std::string fill(4096, '\x11');
    ASSERT_EQ(WriteShareMem2(name.c_str(), fill.data(), 4096, 0), 1);

    struct Case {
        int size, offset, ok;
    };
    const Case cases[] = {
        {4096, 0, 1}, {1, 4095, 1}, {0, 4096, 1},  {1, 4096, 0},        {2, 4095, 0},
        {4097, 0, 0}, {-1, 0, 0},   {1, -1, 0},    {16, INT_MAX, 0},    {INT_MAX, 16, 0},
    };
    std::vector<char> block(4097, '\x22');
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " at " + std::to_string(c.offset));
        ASSERT_EQ(WriteShareMem2(name.c_str(), fill.data(), 4096, 0), 1);
        EXPECT_EQ(WriteShareMem2(name.c_str(), block.data(), c.size, c.offset), c.ok);
        std::string expected = fill;
        if (c.ok) expected.replace(c.offset, c.size, std::string(c.size, '\x22'));
        EXPECT_EQ(Area(name, 4096), expected);

        std::vector<char> out(4097, '\x33');
        ASSERT_EQ(WriteShareMem2(name.c_str(), fill.data(), 4096, 0), 1);
        EXPECT_EQ(ReadShareMem2(name.c_str(), out.data(), c.size, c.offset), c.ok);
        if (c.ok)
            EXPECT_EQ(std::string(out.data(), c.size), fill.substr(c.offset, c.size));
        else
            EXPECT_EQ(std::string(out.begin(), out.end()), std::string(4097, '\x33'));
    }
    EXPECT_EQ(WriteShareMem2(name.c_str(), nullptr, 1, 0), 0);
    EXPECT_EQ(ReadShareMem2(name.c_str(), nullptr, 1, 0), 0);

    // Text: 2048 characters; "abc" and its terminator fit from 2044 on.
    EXPECT_EQ(WriteShareMem(name.c_str(), L"abc", 2044), 1);
    EXPECT_EQ(WriteShareMem(name.c_str(), L"abc", 2045), 0);
    EXPECT_EQ(WriteShareMem(name.c_str(), L"abc", -1), 0);
    EXPECT_EQ(WriteShareMem(name.c_str(), nullptr, 0), 0);

    // An area whose text has no terminator is not read past its end.
    ASSERT_EQ(WriteShareMem2(name.c_str(), std::string(4096, 'A').data(), 4096, 0), 1);
    std::vector<wchar_t> text(4096, L'#');
    EXPECT_EQ(ReadShareMem(name.c_str(), text.data()), 0);
    EXPECT_EQ(ReadShareMem(name.c_str(), text.data(), text.size()), 0);
    EXPECT_EQ(text[0], L'#');
}

TEST(ShareMem, TheBoundedReadCutsAndSaysSo)
{
    const std::wstring name = AreaName(L"cut");
    CvHandle area(CreateShareMem(name.c_str(), 4096));
    ASSERT_TRUE(area);
    ASSERT_EQ(WriteShareMem(name.c_str(), L"hello world", 0), 1);
    wchar_t text[16];
    wmemset(text, L'#', 16);
    EXPECT_EQ(ReadShareMem(name.c_str(), text, 6), 0);
    EXPECT_STREQ(text, L"hello");
    EXPECT_EQ(text[6], L'#');
    EXPECT_EQ(ReadShareMem(name.c_str(), text, 12), 1);
    EXPECT_STREQ(text, L"hello world");
}

TEST(ShareMem, PagesThatAreNotCommittedAreNeverTouched)
{
    // Another program's area, created with reserved pages only (SEC_RESERVE)
    // and committed a page at a time: touching a page that is not committed
    // would fault.
    const std::wstring name = AreaName(L"reserved");
    CvHandle area(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_RESERVE, 0, 16384,
                                     name.c_str()));
    ASSERT_TRUE(area);
    EXPECT_EQ(isExistsShareMem(name.c_str()), 1);
    wchar_t text[8];
    char data[8] = {};
    EXPECT_EQ(WriteShareMem(name.c_str(), L"abc", 0), 0);
    EXPECT_EQ(ReadShareMem(name.c_str(), text), 0);
    EXPECT_EQ(WriteShareMem2(name.c_str(), data, 1, 0), 0);
    EXPECT_EQ(ReadShareMem2(name.c_str(), data, 1, 0), 0);

    CvMappedView view(MapViewOfFile(area.get(), FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_TRUE(view);
    ASSERT_TRUE(VirtualAlloc(view.get(), 4096, MEM_COMMIT, PAGE_READWRITE));  // the first page only
    EXPECT_EQ(WriteShareMem(name.c_str(), L"abc", 0), 1);
    EXPECT_EQ(ReadShareMem(name.c_str(), text), 1);
    EXPECT_STREQ(text, L"abc");
    EXPECT_EQ(WriteShareMem2(name.c_str(), data, 8, 4088), 1);
    EXPECT_EQ(WriteShareMem2(name.c_str(), data, 8, 4089), 0);
    EXPECT_EQ(ReadShareMem2(name.c_str(), data, 1, 4096), 0);
    EXPECT_EQ(WriteShareMem(name.c_str(), L"abc", 2046), 0);
}
