// The whole uninstall under Xvfb: Uninstall.exe on a private prefix seeded
// with real printers, drivers and driver files (x64 drivers, as on a 64-bit
// PC, also in the 32-bit build), oem INF copies, packages in Windows' own
// driver store and spool files. The test
// selects a row, presses "卸载" as the user would, watches the command run,
// reads and answers the result box, and then looks at the machine and the
// rebuilt list.
//
// Wine decides how far a run gets, so each test states what Wine does and
// what Windows does instead:
// - QueryServiceStatus reports a wait hint of 10 s in every state; the spooler
//   starts and stops within milliseconds, so a whole run takes little more
//   than the sequence's own pauses (about 5 s).
// - SetupUninstallOEMInfW with SUOI_FORCEDELETE deletes the INF copy alone,
//   leaving its .pnf (Windows removes both and the driver package).
// - CM_Locate_DevNodeW fails with CR_FAILURE (19, logged as hex 13).
// - DeletePrinterDriverExW refuses every non-zero deletion flag (error 87).
// - EnumJobsW is a stub that fails, so the job purge of an existing printer
//   named like the driver fails.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/seeded_printers.h"
#include "support/spooler_seed.h"
#include "support/test_service.h"
#include "support/test_support.h"
#include "support/uninstall_process.h"

namespace {

const std::wstring kTitle = L"岚拓打印机驱动卸载程序";
const std::wstring kSucceeded = L"驱动卸载成功，立即重启电脑！";
const std::wstring kFailed =
    L"驱动卸载失败！\r\n请检查是否有其他应用程序正在使用打印机！请重启电脑后再次卸载驱动！";
constexpr int kListId = 1000;
constexpr int kProgressId = 1001;
// Long enough for the slowest list rebuild; the run itself is waited for by
// WaitForMessageBox.
constexpr DWORD kRebuildLimitMs = 20000;

LRESULT SendWithLimit(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 10000, &result)) {
        return -1;
    }
    return static_cast<LRESULT>(result);
}

std::wstring ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    ::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
    return path;
}

std::wstring DriverDirectory() {
    wchar_t directory[MAX_PATH] = {};
    DWORD needed = 0;
    if (!::GetPrinterDriverDirectoryW(nullptr, NativeSeedEnvironment(), 1,
                                      reinterpret_cast<LPBYTE>(directory), sizeof directory,
                                      &needed)) {
        return {};
    }
    return std::wstring(directory) + L"\\";
}

// The records of Log(1).txt in order, each without its closing zero byte.
std::vector<std::string> LogRecords() {
    const std::string text = OperationLogText();
    std::vector<std::string> records;
    size_t begin = 0;
    for (size_t zero = text.find('\0'); zero != std::string::npos; zero = text.find('\0', begin)) {
        records.push_back(text.substr(begin, zero - begin));
        begin = zero + 1;
    }
    if (begin < text.size())
        records.push_back(text.substr(begin));  // a record without its zero byte
    return records;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool Contains(const std::vector<std::wstring>& items, const std::wstring& item) {
    return std::find(items.begin(), items.end(), item) != items.end();
}

// A file the test writes or overwrites: what was there before is written
// back on destruction, and a file that was not there is deleted.
class SavedFile {
  public:
    explicit SavedFile(std::wstring path)
        : path_(std::move(path)), existed_(FileExists(path_)), bytes_(ReadBytes(path_)) {}
    ~SavedFile() {
        if (existed_) {
            WriteBytes(path_, bytes_);
        } else {
            ::SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(path_.c_str());
        }
    }
    SavedFile(const SavedFile&) = delete;
    SavedFile& operator=(const SavedFile&) = delete;
    const std::wstring& path() const { return path_; }

  private:
    std::wstring path_;
    bool existed_;
    std::string bytes_;
};

// The operation log folder of the prefix's user, emptied for the test so that
// the program starts a fresh Log(1).txt, and put back as it was afterwards.
class SavedLogFolder {
  public:
    SavedLogFolder()
        : folder_(DocumentsFolder() + L"\\岚拓打印机\\"), existed_(FolderExists(folder_)) {
        WIN32_FIND_DATAW entry{};
        HANDLE find = ::FindFirstFileW((folder_ + L"*").c_str(), &entry);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    files_.emplace_back(entry.cFileName, ReadBytes(folder_ + entry.cFileName));
            } while (::FindNextFileW(find, &entry));
            ::FindClose(find);
        }
        RemoveTree(folder_);
    }
    ~SavedLogFolder() {
        RemoveTree(folder_);
        if (!existed_)
            return;
        CreateFolders(folder_);
        for (const auto& [name, bytes] : files_)
            WriteBytes(folder_ + name, bytes);
    }
    SavedLogFolder(const SavedLogFolder&) = delete;
    SavedLogFolder& operator=(const SavedLogFolder&) = delete;

  private:
    std::wstring folder_;
    bool existed_;
    std::vector<std::pair<std::wstring, std::string>> files_;
};

class WholeUninstall : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(driverDirectory.empty());
        // Seeded drivers name the universal printer driver's module as a
        // dependent file, as the drivers built on it do; it must survive.
        for (const std::wstring& path :
             {driverDirectory + kShared, driverDirectory + L"3\\" + kShared}) {
            sharedFiles.push_back(std::make_unique<SavedFile>(path));
        }
        driverStoreExisted = FolderExists(driverStore);
        repositoryExisted = FolderExists(repository);
    }

    void TearDown() override {
        program.reset();  // ends the program if a failed check left it running
        for (const std::wstring& package : packages)
            RemoveTree(package);
        if (!repositoryExisted)
            ::RemoveDirectoryW(repository.c_str());
        if (!driverStoreExisted)
            ::RemoveDirectoryW(driverStore.c_str());
    }

    // A driver of this process's environment whose own files are named after
    // `stem`: driver stem+"drv.dll", configuration stem+"ui.dll", data
    // stem+".gpd", and as dependent files the driver and configuration files,
    // stem+"res.dll" and the shared UNIDRV.DLL.
    void SeedDriver(const std::wstring& name, const std::wstring& stem) {
        drivers.push_back(std::make_unique<SeededPrinterDriver>(
            name, stem + L"drv.dll", stem + L"ui.dll", stem + L".gpd",
            std::vector<std::wstring>{stem + L"drv.dll", kShared, stem + L"ui.dll",
                                      stem + L"res.dll"}));
        ASSERT_TRUE(drivers.back()->installed()) << Utf8(name);
        for (const std::wstring& copy : DriverFileCopies(stem))
            ASSERT_TRUE(FileExists(copy)) << Utf8(copy);
        ASSERT_TRUE(FileExists(driverDirectory + L"3\\" + kShared));
    }

    // Where the spooler keeps the driver's own files: the driver directory
    // and its version folder.
    std::vector<std::wstring> DriverFileCopies(const std::wstring& stem) const {
        std::vector<std::wstring> copies;
        for (const wchar_t* suffix : {L"drv.dll", L"ui.dll", L"res.dll", L".gpd"}) {
            copies.push_back(driverDirectory + stem + suffix);
            copies.push_back(driverDirectory + L"3\\" + stem + suffix);
        }
        return copies;
    }

    // What SeedPackagedDriver put in beside the driver's files.
    struct PackagedDriver {
        std::wstring inf;      // its oem INF
        std::wstring package;  // its store package folder
    };

    // The bystander; then a driver named `driver` (its files named after
    // `stem`, see SeedDriver) with its printers, its oem INF and its store
    // package.
    void SeedPackagedDriver(const std::wstring& driver,
                            const std::wstring& stem,
                            const std::vector<std::wstring>& driverPrinters,
                            PackagedDriver& seeded) {
        ASSERT_NO_FATAL_FAILURE(SeedBystander());
        ASSERT_NO_FATAL_FAILURE(SeedDriver(driver, stem));
        for (const std::wstring& printer : driverPrinters)
            ASSERT_NO_FATAL_FAILURE(SeedPrinter(printer, driver));
        seeded.inf = SeedOemInf(driver);
        seeded.package = SeedStorePackage(driver, stem);
    }

    void SeedPrinter(const std::wstring& name, const std::wstring& driver) {
        printers.push_back(std::make_unique<SeededPrinter>(name, driver));
        ASSERT_TRUE(printers.back()->added()) << Utf8(name);
    }

    // An INF that names the driver, as its vendor writes it.
    static std::string InfNaming(const std::wstring& driver) { return PackageInfText(driver); }

    std::wstring SeedFile(const std::wstring& path, const std::string& bytes) {
        files.push_back(std::make_unique<SavedFile>(path));
        WriteBytes(path, bytes);
        return path;
    }

    // C:\windows\inf\oem<number>.inf naming the driver, and the compiled
    // .pnf that setup keeps beside it.
    std::wstring SeedOemInf(const std::wstring& driver) {
        const std::wstring stem = ShellFolder(CSIDL_WINDOWS) + L"\\inf\\oem" +
                                  std::to_wstring(::GetCurrentProcessId()) +
                                  std::to_wstring(++seedCount);
        SeedFile(stem + L".pnf", "compiled INF");
        return SeedFile(stem + L".inf", InfNaming(driver));
    }

    static std::wstring PnfOf(const std::wstring& inf) {
        return inf.substr(0, inf.size() - 4) + L".pnf";
    }

    // A package folder of Windows' own driver store holding an INF that names
    // the driver and a copy of a driver file (an i686 process reaches it
    // through Sysnative; Wine would redirect System32\DriverStore).
    std::wstring SeedStorePackage(const std::wstring& driver, const std::wstring& stem) {
        const std::wstring package = repository + stem + L".inf_x86_4b56e2e0\\";
        packages.push_back(package);
        WriteBytes(package + stem + L".inf", InfNaming(driver));
        WriteBytes(package + stem + L"drv.dll", "packaged driver file");
        return package;
    }

    // A spooled job's pair of files and an unrelated file in the spool folder.
    void SeedSpoolFiles() {
        const std::wstring folder = ShellFolder(CSIDL_SYSTEM) + L"\\spool\\PRINTERS\\";
        const std::wstring id = L"FP" + std::to_wstring(::GetCurrentProcessId());
        spoolFiles = {SeedFile(folder + id + L".SPL", "spooled job data"),
                      SeedFile(folder + id + L".SHD", "spooled job header")};
        unrelatedSpoolFile = SeedFile(folder + id + L".TMP", "not a spool file");
    }

    void StartAndDismissWarning() {
        program = std::make_unique<UninstallProcess>();
        ASSERT_TRUE(program->Start());
        dialog = program->WaitForDialog();
        ASSERT_NE(dialog, nullptr) << "no visible dialog titled " << Utf8(kTitle);
        list = ::GetDlgItem(dialog, kListId);
        bar = ::GetDlgItem(dialog, kProgressId);
        uninstallButton = ::GetDlgItem(dialog, IDOK);
        cancelButton = ::GetDlgItem(dialog, IDCANCEL);
        const HWND warning = program->WaitForMessageBox(dialog);
        ASSERT_NE(warning, nullptr) << "no warning box owned by the dialog";
        PressMessageBoxButton(warning, IDOK);
        ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(warning) || !::IsWindowVisible(warning); }));
        ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(dialog) != FALSE; }));
    }

    // Selects the row that shows `item`, as a click on it would.
    void SelectRow(const std::wstring& item) {
        const std::vector<std::wstring> items = ListItems(list);
        const auto found = std::find(items.begin(), items.end(), item);
        ASSERT_NE(found, items.end()) << Utf8(item) << " is not listed";
        const WPARAM index = static_cast<WPARAM>(found - items.begin());
        ASSERT_EQ(SendWithLimit(list, LB_SETCURSEL, index, 0), static_cast<LRESULT>(index));
        ASSERT_EQ(SendWithLimit(list, LB_GETCURSEL, 0, 0), static_cast<LRESULT>(index));
    }

    int BarPosition() const { return static_cast<int>(SendWithLimit(bar, PBM_GETPOS, 0, 0)); }

    // A left button-down (and up) on "卸载"; the command must take the button
    // away and move the bar while it runs.
    void PressUninstallAndWatchTheCommandStart() {
        ASSERT_EQ(BarPosition(), 0);
        PostClick(uninstallButton, true);
        EXPECT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(uninstallButton) == FALSE; }))
            << "the button stayed enabled";
        EXPECT_TRUE(WaitUntil([&] { return BarPosition() > 0; })) << "the bar did not move";
        // The timer keeps it moving: every run lasts longer than one period.
        EXPECT_TRUE(WaitUntil([&] { return BarPosition() > 2; })) << "the timer did not tick";
    }

    // The success question or the failure message, with the caption of the
    // program and the dialog as owner.
    HWND WaitForResultBox() {
        const HWND box = program->WaitForMessageBox(dialog);
        EXPECT_NE(box, nullptr) << "no result box owned by the dialog";
        if (box != nullptr) {
            EXPECT_EQ(WindowText(box), kTitle);
        }
        return box;
    }

    // Answers the box, then waits for the command's end: button back, bar
    // at 0, and the list rebuilt - known by a printer added while the box
    // was up, and by the last row the rebuilt list must end with.
    void AnswerAndWaitForTheRebuild(HWND box, int answer, const std::wstring& lastRow) {
        const std::wstring late = L"E2E Late " + tag;
        SeedPrinter(late, bystanderDriver);
        PressMessageBoxButton(box, answer);
        EXPECT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(uninstallButton) != FALSE; }));
        EXPECT_EQ(BarPosition(), 0);
        EXPECT_TRUE(WaitUntil(
            [&] {
                const std::vector<std::wstring> items = ListItems(list);
                return Contains(items, late) && !items.empty() && items.back() == lastRow;
            },
            kRebuildLimitMs))
            << "the list was not rebuilt";
        EXPECT_EQ(SendWithLimit(list, LB_GETCURSEL, 0, 0), LB_ERR) << "the selection survived";
    }

    void CloseAndExpectExitCodeZero() {
        PostClick(cancelButton, false);
        DWORD exitCode = 1;
        ASSERT_TRUE(program->WaitForExit(exitCode)) << "the program did not end";
        EXPECT_EQ(exitCode, 0u);
    }

    // The printer, the last seeded driver with its files, its oem INF and
    // package, and the spool files are all still there.
    void ExpectNothingRemoved(const std::wstring& printer,
                              const std::wstring& stem,
                              const std::wstring& inf,
                              const std::wstring& package) {
        EXPECT_TRUE(PrinterExists(printer));
        EXPECT_NE(drivers.back()->Info(), nullptr);
        for (const std::wstring& copy : DriverFileCopies(stem))
            EXPECT_TRUE(FileExists(copy)) << Utf8(copy);
        EXPECT_TRUE(FileExists(inf));
        EXPECT_TRUE(FolderExists(package));
        for (const std::wstring& spoolFile : spoolFiles)
            EXPECT_TRUE(FileExists(spoolFile)) << Utf8(spoolFile);
    }

    // A driver that every test keeps: its files, INF and package must
    // survive whatever row is removed.
    void SeedBystander() {
        SeedDriver(bystanderDriver, bystanderStem);
        bystanderInf = SeedOemInf(bystanderDriver);
        bystanderPackage = SeedStorePackage(bystanderDriver, bystanderStem);
    }

    void ExpectBystanderUntouched() {
        for (const std::wstring& copy : DriverFileCopies(bystanderStem))
            EXPECT_TRUE(FileExists(copy)) << Utf8(copy);
        EXPECT_TRUE(FileExists(bystanderInf));
        EXPECT_TRUE(FolderExists(bystanderPackage));
    }

    const std::wstring tag = UniqueTag();
    const std::wstring kShared = L"UNIDRV.DLL";
    const std::wstring driverDirectory = DriverDirectory();
    const std::wstring driverStore = NativeSystem32() + L"\\DriverStore\\";
    const std::wstring repository = driverStore + L"FileRepository\\";
    const std::wstring bystanderDriver = L"E2E Bystander PCL6 " + tag;
    const std::wstring bystanderStem = L"ke2eby" + std::to_wstring(::GetCurrentProcessId());
    std::wstring bystanderInf;
    std::wstring bystanderPackage;
    std::vector<std::wstring> spoolFiles;
    std::wstring unrelatedSpoolFile;
    int seedCount = 0;
    bool driverStoreExisted = false;
    bool repositoryExisted = false;

    // Declared in the order of restoration, last first.
    SavedLogFolder logFolder;
    SavedSpoolerState spoolerState;
    std::vector<std::unique_ptr<SavedFile>> sharedFiles;
    std::vector<std::unique_ptr<SavedFile>> files;
    std::vector<std::wstring> packages;
    std::vector<std::unique_ptr<SeededPrinterDriver>> drivers;
    std::vector<std::unique_ptr<SeededPrinter>> printers;
    std::unique_ptr<UninstallProcess> program;

    HWND dialog = nullptr;
    HWND list = nullptr;
    HWND bar = nullptr;
    HWND uninstallButton = nullptr;
    HWND cancelButton = nullptr;
};

// Two printers on one driver: the driver's count is 2, so only the selected
// printer goes, and the run goes all the way to the success question.
TEST_F(WholeUninstall, PrinterOfASharedDriverIsRemovedAndItsDriverKept) {
    const std::wstring driver = L"E2E Shared PCL6 " + tag;
    const std::wstring stem = L"ke2esh" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring removed = L"E2E 财务部打印机 " + tag;
    const std::wstring kept = L"E2E Front Desk " + tag;
    PackagedDriver seeded;
    ASSERT_NO_FATAL_FAILURE(SeedPackagedDriver(driver, stem, {removed, kept}, seeded));
    const std::wstring& inf = seeded.inf;
    const std::wstring& package = seeded.package;
    SeedSpoolFiles();

    ASSERT_NO_FATAL_FAILURE(StartAndDismissWarning());
    const std::vector<std::wstring> before = ListItems(list);
    ASSERT_TRUE(Contains(before, driver));
    ASSERT_NO_FATAL_FAILURE(SelectRow(removed));
    ASSERT_NO_FATAL_FAILURE(PressUninstallAndWatchTheCommandStart());

    const HWND box = WaitForResultBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), kSucceeded);
    EXPECT_NE(::GetDlgItem(box, IDYES), nullptr);
    EXPECT_NE(::GetDlgItem(box, IDNO), nullptr);
    EXPECT_EQ(BarPosition(), 100) << "the bar is full while the question is up";
    EXPECT_FALSE(::IsWindowEnabled(uninstallButton));

    // The printer is gone; its driver, used by the other printer, is not.
    EXPECT_FALSE(PrinterExists(removed));
    EXPECT_TRUE(PrinterExists(kept));
    EXPECT_NE(drivers.back()->Info(), nullptr) << "the shared driver was removed";
    for (const std::wstring& copy : DriverFileCopies(stem))
        EXPECT_TRUE(FileExists(copy)) << Utf8(copy);
    EXPECT_TRUE(FileExists(driverDirectory + L"3\\" + kShared));
    EXPECT_TRUE(FileExists(inf));
    EXPECT_TRUE(FolderExists(package));
    ExpectBystanderUntouched();
    // The spool files go whatever row is removed.
    for (const std::wstring& spoolFile : spoolFiles)
        EXPECT_FALSE(FileExists(spoolFile)) << Utf8(spoolFile);
    EXPECT_TRUE(FileExists(unrelatedSpoolFile));

    // The one record is the device tree's: Wine's configuration manager fails
    // with CR_FAILURE (19). Windows locates the root and re-enumerates it,
    // and the log stays empty.
    const std::vector<std::string> records = LogRecords();
    ASSERT_EQ(records.size(), 1u) << OperationLogText();
    EXPECT_TRUE(StartsWith(records[0], "CM_Locate_DevNode   failed:   13\n ")) << records[0];

    // No: no reboot, the program goes on and rebuilds the list.
    ASSERT_NO_FATAL_FAILURE(AnswerAndWaitForTheRebuild(box, IDNO, before.back()));
    const std::vector<std::wstring> after = ListItems(list);
    EXPECT_FALSE(Contains(after, removed));
    EXPECT_TRUE(Contains(after, kept));
    EXPECT_TRUE(Contains(after, driver));
    EXPECT_TRUE(Contains(after, bystanderDriver));
    EXPECT_TRUE(program->IsRunning());
    CloseAndExpectExitCodeZero();
}

// A driver without printers: every file step runs for it, and the spooler's
// deletion comes last. In the 32-bit build this is the 32-bit program alone
// (no x64\Uninstall.exe beside it) removing an x64 driver: its files from the
// x64 driver folders and its package from Windows' own driver store. Wine refuses
// DeletePrinterDriverExW with DPD_DELETE_UNUSED_FILES (error 87), so the run ends in the failure
// message with the driver's files and package already gone. Windows deletes the driver there, and
// the run ends with the success question.
TEST_F(WholeUninstall, DriverRowLosesItsFilesAndPackageAndWineRefusesTheSpoolerDeletion) {
    // A Chinese name: its oem INF and package are UTF-16, the name a token
    // of [Strings.0804].
    const std::wstring driver = L"岚拓 E2E 独立 PCL6 打印机驱动 " + tag;
    const std::wstring stem = L"ke2esa" + std::to_wstring(::GetCurrentProcessId());
    PackagedDriver seeded;
    ASSERT_NO_FATAL_FAILURE(SeedPackagedDriver(driver, stem, {}, seeded));
    const std::wstring& inf = seeded.inf;
    const std::wstring& package = seeded.package;
    SeedSpoolFiles();

    ASSERT_NO_FATAL_FAILURE(StartAndDismissWarning());
    const std::vector<std::wstring> before = ListItems(list);
    ASSERT_NO_FATAL_FAILURE(SelectRow(driver));
    ASSERT_NO_FATAL_FAILURE(PressUninstallAndWatchTheCommandStart());

    const HWND box = WaitForResultBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), kFailed);
    EXPECT_NE(::GetDlgItem(box, IDOK), nullptr);
    EXPECT_EQ(::GetDlgItem(box, IDNO), nullptr) << "the failure message asks nothing";
    EXPECT_EQ(BarPosition(), 0) << "the bar is empty under the failure message";

    // The driver's own files are gone from the driver directory and its
    // version folder; the shared module stays.
    for (const std::wstring& copy : DriverFileCopies(stem))
        EXPECT_FALSE(FileExists(copy)) << Utf8(copy);
    EXPECT_TRUE(FileExists(driverDirectory + L"3\\" + kShared));
    EXPECT_TRUE(FileExists(driverDirectory + kShared));
    EXPECT_FALSE(FolderExists(package));
    // SUOI_FORCEDELETE: Wine's SetupUninstallOEMInfW deletes the INF copy
    // alone. Windows removes its .pnf and the driver package with it.
    EXPECT_FALSE(FileExists(inf));
    EXPECT_TRUE(FileExists(PnfOf(inf)));
    ExpectBystanderUntouched();
    for (const std::wstring& spoolFile : spoolFiles)
        EXPECT_FALSE(FileExists(spoolFile)) << Utf8(spoolFile);
    EXPECT_TRUE(FileExists(unrelatedSpoolFile));
    // Wine keeps the spooler's entry of the driver (see below).
    EXPECT_NE(drivers.back()->Info(), nullptr);

    // The run stopped at the spooler's deletion, so the device tree was not
    // re-enumerated and nothing else was logged.
    const std::vector<std::string> records = LogRecords();
    ASSERT_EQ(records.size(), 1u) << OperationLogText();
    EXPECT_TRUE(StartsWith(records[0], "DeletePrinterDriverEx failed with error 87: "))
        << records[0];

    // Wine still lists the driver after the rebuild; on Windows it is gone.
    ASSERT_NO_FATAL_FAILURE(AnswerAndWaitForTheRebuild(box, IDOK, before.back()));
    const std::vector<std::wstring> after = ListItems(list);
    EXPECT_TRUE(Contains(after, driver));
    EXPECT_TRUE(Contains(after, bystanderDriver));
    CloseAndExpectExitCodeZero();
}

// A driver that keeps the spooler from running (a stand-in spooler stops at
// once, with 1067, at every start while the driver's key exists), used by
// the printer named like it: the removal of that printer goes on through the
// spooler's registry, takes the printer, the driver's key, files, oem INF and
// package, keeps the other driver, starts the spooler again and ends with
// the success question. (The job purge, which needs the spooler, is left out,
// so Wine's failing EnumJobsW is not reached.)
TEST_F(WholeUninstall, PrinterOfADriverThatKeepsTheSpoolerFromRunningIsRemovedThroughTheRegistry) {
    const std::wstring driver = L"E2E Crashing PCL6 " + tag;
    const std::wstring stem = L"ke2ecr" + std::to_wstring(::GetCurrentProcessId());
    PackagedDriver seeded;
    ASSERT_NO_FATAL_FAILURE(SeedPackagedDriver(driver, stem, {driver}, seeded));
    const std::wstring& inf = seeded.inf;
    const std::wstring& package = seeded.package;
    StandInSpooler standIn(X64DriverKey(driver));
    ASSERT_TRUE(standIn.installed());

    ASSERT_NO_FATAL_FAILURE(StartAndDismissWarning());
    const std::vector<std::wstring> before = ListItems(list);
    ASSERT_NO_FATAL_FAILURE(SelectRow(driver));
    ASSERT_NO_FATAL_FAILURE(PressUninstallAndWatchTheCommandStart());
    const HWND box = WaitForResultBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), kSucceeded) << OperationLogText();

    EXPECT_FALSE(PrinterExists(driver));
    EXPECT_FALSE(MachineKeyExists(X64DriverKey(driver)));
    for (const std::wstring& copy : DriverFileCopies(stem))
        EXPECT_FALSE(FileExists(copy)) << Utf8(copy);
    EXPECT_TRUE(FileExists(driverDirectory + L"3\\" + kShared));
    EXPECT_FALSE(FileExists(inf));
    EXPECT_FALSE(FolderExists(package));
    ExpectBystanderUntouched();
    EXPECT_TRUE(MachineKeyExists(X64DriverKey(bystanderDriver)));
    EXPECT_EQ(spoolerState.State(), DWORD{SERVICE_RUNNING});
    const std::vector<std::string> records = LogRecords();
    ASSERT_GE(records.size(), 3u) << OperationLogText();
    EXPECT_TRUE(StartsWith(records[0], Ansi(L"服务启动后随即停止 failed with error 1067")))
        << records[0];

    ASSERT_NO_FATAL_FAILURE(AnswerAndWaitForTheRebuild(box, IDNO, before.back()));
    EXPECT_FALSE(Contains(ListItems(list), driver));
    CloseAndExpectExitCodeZero();
}

// A printer named like its driver, alone on it: printer and driver go
// together, and the job purge opens that printer. Wine's EnumJobsW fails
// without a short buffer, so the purge fails, the run stops before the
// spooler is stopped, and nothing is removed. On Windows an empty queue
// enumerates fine and the run goes on to remove printer and driver.
TEST_F(WholeUninstall, PrinterNamedLikeItsDriverStopsAtWinesJobEnumerationWithNothingRemoved) {
    const std::wstring driver = L"E2E LaserJet " + tag;
    const std::wstring stem = L"ke2elj" + std::to_wstring(::GetCurrentProcessId());
    PackagedDriver seeded;
    ASSERT_NO_FATAL_FAILURE(SeedPackagedDriver(driver, stem, {driver}, seeded));
    const std::wstring& inf = seeded.inf;
    const std::wstring& package = seeded.package;
    SeedSpoolFiles();

    ASSERT_NO_FATAL_FAILURE(StartAndDismissWarning());
    const std::vector<std::wstring> before = ListItems(list);
    ASSERT_EQ(std::count(before.begin(), before.end(), driver), 1) << "one row for both";
    ASSERT_NO_FATAL_FAILURE(SelectRow(driver));
    ASSERT_NO_FATAL_FAILURE(PressUninstallAndWatchTheCommandStart());

    const HWND box = WaitForResultBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), kFailed);
    EXPECT_EQ(BarPosition(), 0);

    // The spool files are purged only once the spooler is stopped.
    ExpectNothingRemoved(driver, stem, inf, package);

    const std::vector<std::string> records = LogRecords();
    ASSERT_EQ(records.size(), 2u) << OperationLogText();
    EXPECT_TRUE(StartsWith(records[0], Ansi(L"分配打印任务信息缓存函数失败！"))) << records[0];
    EXPECT_TRUE(StartsWith(records[1], Ansi(L"删除打印作业失败"))) << records[1];

    ASSERT_NO_FATAL_FAILURE(AnswerAndWaitForTheRebuild(box, IDOK, before.back()));
    EXPECT_TRUE(Contains(ListItems(list), driver));
    CloseAndExpectExitCodeZero();
}

// A driver row whose driver a printer still uses: the spooler would refuse
// to delete it after every file had gone. Nothing is changed, no service is
// touched, and the failure message is shown with one record that says why.
TEST_F(WholeUninstall, DriverThatAPrinterUsesEndsInTheFailureBoxWithNothingChanged) {
    const std::wstring driver = L"E2E In Use PCL6 " + tag;
    const std::wstring stem = L"ke2eiu" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring printer = L"E2E 前台打印机 " + tag;
    PackagedDriver seeded;
    ASSERT_NO_FATAL_FAILURE(SeedPackagedDriver(driver, stem, {printer}, seeded));
    const std::wstring& inf = seeded.inf;
    const std::wstring& package = seeded.package;
    SeedSpoolFiles();
    ASSERT_NO_FATAL_FAILURE(StartAndDismissWarning());
    const std::vector<std::wstring> before = ListItems(list);
    ASSERT_NO_FATAL_FAILURE(SelectRow(driver));
    const DWORD spoolerBefore = spoolerState.State();
    PostClick(uninstallButton, true);

    const HWND box = WaitForResultBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), kFailed);
    EXPECT_EQ(BarPosition(), 0);
    EXPECT_EQ(spoolerState.State(), spoolerBefore);
    ExpectNothingRemoved(printer, stem, inf, package);
    const std::vector<std::string> records = LogRecords();
    ASSERT_EQ(records.size(), 1u) << OperationLogText();
    EXPECT_TRUE(
        StartsWith(records[0], Ansi(L"驱动" + driver + L"正被打印机使用，未卸载：" + printer)))
        << records[0];
    ASSERT_NO_FATAL_FAILURE(AnswerAndWaitForTheRebuild(box, IDOK, before.back()));
    CloseAndExpectExitCodeZero();
}

#if !defined(_WIN64)
// A 64-bit PC whose drivers are "Windows NT x86" records, as a 32-bit setup
// that names no environment leaves them. The 32-bit program alone lists
// them, reads their printer's driver without a 1797 record, and removes a
// driver row's files (from w32x86) and package; Wine then refuses the
// spooler's deletion (error 87), as for x64 drivers.
TEST_F(WholeUninstall, X86DriverRecordsAreListedAndRemovedByThe32BitProgramAlone) {
    wchar_t x86[] = L"Windows NT x86";
    const std::wstring id = std::to_wstring(::GetCurrentProcessId());
    const std::wstring driver = L"E2E x86 Only PCL6 " + tag;
    const std::wstring stem = L"ke2e86" + id;
    const std::wstring named = L"E2E x86 LaserJet " + tag;
    const std::wstring namedStem = L"ke2e8n" + id;
    ASSERT_NO_FATAL_FAILURE(SeedBystander());
    for (const auto& [name, fileStem] : {std::pair{driver, stem}, std::pair{named, namedStem}}) {
        drivers.push_back(std::make_unique<SeededPrinterDriver>(
            name, fileStem + L"drv.dll", fileStem + L"ui.dll", fileStem + L".gpd",
            std::vector<std::wstring>{fileStem + L"drv.dll", fileStem + L"ui.dll",
                                      fileStem + L"res.dll"},
            x86));
        ASSERT_TRUE(drivers.back()->installed()) << Utf8(name);
    }
    printers.push_back(std::make_unique<SeededPrinter>(named, named, true));
    ASSERT_TRUE(printers.back()->added());
    const std::wstring package = SeedStorePackage(driver, stem);
    const std::wstring x86Folder = drivers.back()->directory();
    ASSERT_TRUE(FileExists(x86Folder + L"3\\" + stem + L".gpd"));
    ASSERT_NO_FATAL_FAILURE(StartAndDismissWarning());
    const std::vector<std::wstring> before = ListItems(list);
    EXPECT_TRUE(Contains(before, driver));
    EXPECT_EQ(std::count(before.begin(), before.end(), named), 1) << "one row for both";
    EXPECT_TRUE(LogRecords().empty()) << OperationLogText();

    ASSERT_NO_FATAL_FAILURE(SelectRow(driver));
    ASSERT_NO_FATAL_FAILURE(PressUninstallAndWatchTheCommandStart());
    const HWND box = WaitForResultBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), kFailed);
    for (const wchar_t* suffix : {L"drv.dll", L"ui.dll", L"res.dll", L".gpd"}) {
        EXPECT_FALSE(FileExists(x86Folder + L"3\\" + stem + suffix)) << Utf8(stem + suffix);
        EXPECT_TRUE(FileExists(x86Folder + L"3\\" + namedStem + suffix)) << Utf8(namedStem);
    }
    EXPECT_FALSE(FolderExists(package));
    ExpectBystanderUntouched();
    const std::vector<std::string> records = LogRecords();
    ASSERT_EQ(records.size(), 1u) << OperationLogText();
    EXPECT_TRUE(StartsWith(records[0], "DeletePrinterDriverEx failed with error 87: "))
        << records[0];
    ASSERT_NO_FATAL_FAILURE(AnswerAndWaitForTheRebuild(box, IDOK, before.back()));
    CloseAndExpectExitCodeZero();
}
#endif

#if !defined(_WIN64)
// The package as users unpack it: the 32-bit Uninstall.exe, which they start,
// and x64\Uninstall.exe. On 64-bit Windows the first starts the second and
// ends with exit code 0; the dialog the user sees is the 64-bit program's.
TEST(NativeHandover, Packaged32BitProgramHandsOverToThe64BitCopyAndEndsWithZero) {
    ScratchFolder package;
    const std::wstring program = LayOutPackage(package.path(), L"Uninstall.exe");
    ASSERT_FALSE(program.empty());

    UninstallProcess started;
    ASSERT_TRUE(started.Start(program));
    ASSERT_TRUE(started.IsWow64());
    DWORD exitCode = 1;
    ASSERT_TRUE(started.WaitForExit(exitCode)) << "the 32-bit program did not end";
    EXPECT_EQ(exitCode, 0u);

    HWND window = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (window = ::FindWindowW(L"#32770", kTitle.c_str())); }))
        << "no window titled " << Utf8(kTitle);
    UninstallProcess native;
    ASSERT_TRUE(native.Attach(window));
    EXPECT_FALSE(native.IsWow64()) << "the dialog belongs to a 32-bit process";
    const HWND dialog = native.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    const HWND warning = native.WaitForMessageBox(dialog);
    ASSERT_NE(warning, nullptr);
    PressMessageBoxButton(warning, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(dialog) != FALSE; }));
    PostClick(::GetDlgItem(dialog, IDCANCEL), false);
    ASSERT_TRUE(native.WaitForExit(exitCode));
    EXPECT_EQ(exitCode, 0u);
}
#endif

}  // namespace
