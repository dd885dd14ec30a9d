// The resources built into Uninstall.exe, read back from the program file:
// both dialog templates field by field, the string, the icon group and the
// manifest, each in its language; and the version resource of every program
// of the package, as Explorer and PowerShell read it.
#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "project_version.h"
#include "support/test_support.h"

namespace {

const WORD kChinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);  // 2052
const WORD kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);          // 1033

struct Control {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    int id;
    std::wstring className;  // the class name, or "#<ordinal>"
    std::wstring text;
};

struct Template {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    std::wstring title;
    WORD pointSize, weight;
    BYTE italic, charset;
    std::wstring font;
    std::vector<Control> controls;
};

// A control class as "button", "listbox", ...: a template may name the
// predefined classes by ordinal or by name in any letter case.
std::wstring ClassOf(const std::wstring& field) {
    if (field == L"#128")
        return L"button";
    if (field == L"#130")
        return L"static";
    if (field == L"#131")
        return L"listbox";
    std::wstring lower = field;
    for (wchar_t& c : lower)
        c = static_cast<wchar_t>(towlower(c));
    return lower;
}

// Reads the extended dialog template layout.
class TemplateReader {
  public:
    explicit TemplateReader(const BYTE* data) : at_(data) {}

    template <typename T>
    T Take() {
        T value;
        std::memcpy(&value, at_, sizeof value);
        at_ += sizeof value;
        return value;
    }

    // A name-or-ordinal field.
    std::wstring NameOrOrdinal() {
        const WORD first = Take<WORD>();
        if (first == 0)
            return L"";
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(Take<WORD>());
        std::wstring text(1, static_cast<wchar_t>(first));
        for (WORD c = Take<WORD>(); c != 0; c = Take<WORD>())
            text += static_cast<wchar_t>(c);
        return text;
    }

    std::wstring String() {
        std::wstring text;
        for (WORD c = Take<WORD>(); c != 0; c = Take<WORD>())
            text += static_cast<wchar_t>(c);
        return text;
    }

    void AlignToDword(const BYTE* base) {
        while ((at_ - base) % 4 != 0)
            ++at_;
    }

  private:
    const BYTE* at_;
};

class UninstallResources : public ::testing::Test {
  protected:
    void SetUp() override {
        module_ = ::LoadLibraryExW((ExecutableFolder() + L"Uninstall.exe").c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr);
    }
    void TearDown() override { ::FreeLibrary(module_); }

    // The bytes of one resource in exactly this language; empty when absent.
    std::vector<BYTE> Resource(LPCWSTR type, LPCWSTR name, WORD language) const {
        HRSRC found = ::FindResourceExW(module_, type, name, language);
        if (found == nullptr)
            return {};
        const auto* data = static_cast<const BYTE*>(::LockResource(::LoadResource(module_, found)));
        return std::vector<BYTE>(data, data + ::SizeofResource(module_, found));
    }

    Template DialogTemplate(int id) const {
        const std::vector<BYTE> bytes = Resource(RT_DIALOG, MAKEINTRESOURCEW(id), kChinese);
        Template result{};
        EXPECT_FALSE(bytes.empty()) << "no dialog " << id << " in language 2052";
        if (bytes.empty())
            return result;
        TemplateReader in(bytes.data());
        EXPECT_EQ(in.Take<WORD>(), 1);       // dlgVer
        EXPECT_EQ(in.Take<WORD>(), 0xFFFF);  // extended template
        in.Take<DWORD>();                    // help id
        result.exStyle = in.Take<DWORD>();
        result.style = in.Take<DWORD>();
        const WORD count = in.Take<WORD>();
        result.x = in.Take<short>();
        result.y = in.Take<short>();
        result.cx = in.Take<short>();
        result.cy = in.Take<short>();
        EXPECT_EQ(in.NameOrOrdinal(), L"");  // no menu
        EXPECT_EQ(in.NameOrOrdinal(), L"");  // the dialog class
        result.title = in.String();
        result.pointSize = in.Take<WORD>();
        result.weight = in.Take<WORD>();
        result.italic = in.Take<BYTE>();
        result.charset = in.Take<BYTE>();
        result.font = in.String();
        for (WORD i = 0; i < count; ++i) {
            in.AlignToDword(bytes.data());
            Control c{};
            in.Take<DWORD>();  // help id
            c.exStyle = in.Take<DWORD>();
            c.style = in.Take<DWORD>();
            c.x = in.Take<short>();
            c.y = in.Take<short>();
            c.cx = in.Take<short>();
            c.cy = in.Take<short>();
            c.id = static_cast<int>(in.Take<DWORD>());
            c.className = in.NameOrOrdinal();
            c.text = in.NameOrOrdinal();
            const WORD extra = in.Take<WORD>();
            for (WORD b = 0; b < extra; ++b)
                in.Take<BYTE>();
            result.controls.push_back(c);
        }
        return result;
    }

    // Both templates share everything but their texts.
    static void ExpectLayout(const Template& t, const std::vector<std::wstring>& texts) {
        EXPECT_EQ(t.style, DWORD{WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MAXIMIZEBOX | DS_CENTER |
                                 DS_MODALFRAME | DS_FIXEDSYS | DS_SETFONT});
        EXPECT_EQ(t.style & WS_VISIBLE, 0u);
        EXPECT_EQ(t.exStyle, 0u);
        EXPECT_EQ((std::vector<int>{t.x, t.y, t.cx, t.cy}), (std::vector<int>{0, 0, 255, 257}));
        EXPECT_EQ(t.pointSize, 8);
        EXPECT_EQ(t.weight, 400);
        EXPECT_EQ(t.italic, 0);
        EXPECT_EQ(t.charset, 1);
        EXPECT_EQ(t.font, L"MS Shell Dlg");
        ASSERT_EQ(t.controls.size(), 5u);
        const DWORD child = WS_CHILD | WS_VISIBLE;
        const std::vector<Control> expected = {
            {child | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 45, 198, 66, 20, 1, L"#128", texts[0]},
            {child | WS_TABSTOP | BS_PUSHBUTTON, 0, 144, 198, 66, 20, 2, L"#128", texts[1]},
            {child | WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_SORT |
                 LBS_NOINTEGRALHEIGHT,
             0, 23, 29, 210, 158, 1000, L"#131", L""},
            {child | WS_BORDER, 0, 25, 226, 206, 14, 1001, L"msctls_progress32", L""},
            {child | WS_GROUP | SS_LEFT, 0, 23, 15, 63, 8, -1, L"#130", texts[2]},
        };
        for (size_t i = 0; i < expected.size(); ++i) {
            const Control& a = t.controls[i];
            const Control& e = expected[i];
            SCOPED_TRACE("control " + std::to_string(i));
            EXPECT_EQ(a.id, e.id);
            EXPECT_EQ(a.style, e.style);
            EXPECT_EQ(a.exStyle, e.exStyle);
            EXPECT_EQ((std::vector<int>{a.x, a.y, a.cx, a.cy}),
                      (std::vector<int>{e.x, e.y, e.cx, e.cy}));
            EXPECT_EQ(ClassOf(a.className), ClassOf(e.className)) << Utf8(a.className);
            EXPECT_EQ(a.text, e.text);
        }
    }

    HMODULE module_ = nullptr;
};

TEST_F(UninstallResources, ChineseDialogHasTheListedStylesControlsAndTexts) {
    const Template t = DialogTemplate(101);
    EXPECT_EQ(t.title, L"岚拓打印机驱动卸载程序");
    ExpectLayout(t, {L"卸载", L"取消", L"驱动列表："});
}

TEST_F(UninstallResources, EnglishTwinDiffersOnlyInItsTexts) {
    const Template t = DialogTemplate(102);
    EXPECT_EQ(t.title, L"KAVRO Printer Driver Uninstaller");
    ExpectLayout(t, {L"Uninstall", L"Cancel", L"Driver List："});
}

TEST_F(UninstallResources, StringTableHoldsTheApplicationTitle) {
    // String 103 is the eighth entry of block 7.
    const std::vector<BYTE> block = Resource(RT_STRING, MAKEINTRESOURCEW(103 / 16 + 1), kChinese);
    ASSERT_FALSE(block.empty());
    const auto* at = reinterpret_cast<const WORD*>(block.data());
    for (int i = 0; i < 103 % 16; ++i)
        at += 1 + *at;
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(at + 1), *at), L"Win32Uninstall");
}

TEST_F(UninstallResources, IconGroupHasFiveThirtyTwoBitImagesFromLargeToSmall) {
    const std::vector<BYTE> group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(102), kChinese);
    ASSERT_GE(group.size(), 6u);
    const auto* header = reinterpret_cast<const WORD*>(group.data());
    EXPECT_EQ(header[1], 1);  // icons
    ASSERT_EQ(header[2], 5);
    ASSERT_EQ(group.size(), 6u + 5 * 14);
    std::vector<int> sizes;
    for (int i = 0; i < 5; ++i) {
        const BYTE* entry = group.data() + 6 + 14 * i;
        WORD bits = 0;
        WORD id = 0;
        std::memcpy(&bits, entry + 6, 2);
        std::memcpy(&id, entry + 12, 2);
        EXPECT_EQ(bits, 32);
        const int width = entry[0] == 0 ? 256 : entry[0];
        sizes.push_back(width);
        const std::vector<BYTE> image = Resource(RT_ICON, MAKEINTRESOURCEW(id), kChinese);
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
        BITMAPINFOHEADER bitmap{};
        std::memcpy(&bitmap, image.data(), sizeof bitmap);
        EXPECT_EQ(bitmap.biWidth, width);
        EXPECT_EQ(bitmap.biHeight, 2 * width);
        EXPECT_EQ(bitmap.biBitCount, 32);
        EXPECT_EQ(image.size(), 40u + width * width * 4 + ((width + 31) / 32) * 4 * width);
    }
    EXPECT_EQ(sizes, (std::vector<int>{128, 96, 64, 48, 32}));
}

TEST_F(UninstallResources, ManifestAsksForAdministratorNoVisualStylesAndDeclaresVistaTo11) {
    const std::vector<BYTE> bytes = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1), kEnglish);
    ASSERT_FALSE(bytes.empty()) << "no manifest 1 in language 1033";
    const std::string manifest(bytes.begin(), bytes.end());
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
    EXPECT_EQ(manifest.find("Common-Controls"), std::string::npos);
    for (const char* id : SUPPORTED_OS_IDS)
        EXPECT_NE(manifest.find("<supportedOS Id=\"" + std::string(id) + "\"/>"), std::string::npos)
            << id;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
    reinterpret_cast<std::vector<WORD>*>(found)->push_back(language);
    return TRUE;
}

TEST_F(UninstallResources, EverythingIsChineseButTheManifestWhichIsEnglish) {
    auto languages = [this](LPCWSTR type, int id) {
        std::vector<WORD> found;
        ::EnumResourceLanguagesW(module_, type, MAKEINTRESOURCEW(id), CollectLanguage,
                                 reinterpret_cast<LONG_PTR>(&found));
        return found;
    };
    const std::vector<WORD> chinese{kChinese};
    EXPECT_EQ(languages(RT_DIALOG, 101), chinese);
    EXPECT_EQ(languages(RT_DIALOG, 102), chinese);
    EXPECT_EQ(languages(RT_STRING, 7), chinese);
    EXPECT_EQ(languages(RT_GROUP_ICON, 102), chinese);
    EXPECT_EQ(languages(RT_VERSION, 1), chinese);
    EXPECT_EQ(languages(RT_MANIFEST, 1), std::vector<WORD>{kEnglish});
}

// One string of a version resource's Chinese (PRC), UTF-16 table; empty when
// absent.
std::wstring VersionString(const std::vector<BYTE>& info, const std::wstring& name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = L"\\StringFileInfo\\080404B0\\" + name;
    if (!::VerQueryValueW(info.data(), path.c_str(), &value, &length) || length == 0)
        return L"";
    return static_cast<const wchar_t*>(value);
}

TEST(ProgramVersions, EveryProgramCarriesTheProjectsVersionInChinesePrc) {
    struct Program {
        const wchar_t* file;  // beside the tests
        const wchar_t* originalName;
        const wchar_t* description;
        bool packagedBy32BitBuild;  // a 64-bit copy, built by a 32-bit build
    };
    const Program programs[] = {
        {L"Uninstall.exe", L"Uninstall.exe", L"岚拓打印机驱动卸载程序", false},
        {L"UninstallCli.exe", L"UninstallCli.exe", L"岚拓打印机驱动卸载程序（命令行）", false},
        {L"Installer.exe", L"Installer.exe", L"岚拓打印机驱动安装程序", false},
        {L"native64\\Uninstall.exe", L"Uninstall.exe", L"岚拓打印机驱动卸载程序", true},
        {L"native64\\UninstallCli.exe", L"UninstallCli.exe", L"岚拓打印机驱动卸载程序（命令行）",
         true},
    };
    const std::string text = PROJECT_VERSION_TEXT;
    const std::wstring version(text.begin(), text.end());
    for (const Program& program : programs) {
        if (program.packagedBy32BitBuild && sizeof(void*) != 4)
            continue;
        const std::wstring path = ExecutableFolder() + program.file;
        SCOPED_TRACE(Utf8(program.file));
        DWORD ignored = 0;
        std::vector<BYTE> info(::GetFileVersionInfoSizeW(path.c_str(), &ignored));
        ASSERT_FALSE(info.empty()) << "no version resource";
        ASSERT_TRUE(
            ::GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(
            ::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
        const DWORD high = MAKELONG(PROJECT_VERSION_MINOR, PROJECT_VERSION_MAJOR);
        const DWORD low = MAKELONG(0, PROJECT_VERSION_PATCH);
        EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(std::vector<DWORD>({fixed->dwFileVersionMS, fixed->dwFileVersionLS,
                                      fixed->dwProductVersionMS, fixed->dwProductVersionLS}),
                  std::vector<DWORD>({high, low, high, low}));
        EXPECT_EQ(fixed->dwFileType, DWORD{VFT_APP});
        DWORD* translation = nullptr;
        ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                                     reinterpret_cast<void**>(&translation), &length));
        ASSERT_EQ(length, 4u);
        EXPECT_EQ(*translation, MAKELONG(kChinese, 1200));
        EXPECT_EQ(VersionString(info, L"FileVersion"), version);
        EXPECT_EQ(VersionString(info, L"ProductVersion"), version);
        EXPECT_EQ(VersionString(info, L"OriginalFilename"), program.originalName);
        EXPECT_EQ(VersionString(info, L"FileDescription"), program.description);
        EXPECT_EQ(VersionString(info, L"CompanyName"), L"岚拓 (KAVRO)");
        EXPECT_EQ(VersionString(info, L"ProductName"), L"岚拓打印机驱动");
    }
}

}  // namespace
