// window_driver: takes the program's window through connect, check and update
// by itself, from a second process, as a person would with the mouse, and
// reports every text of the status line with its time. The demo and the soak
// run it; it changes nothing in the program, it only reads and clicks.
//
//   window_driver [--record FILE] [--port NAME] [--shots PREFIX] [--timeout S] STEP...
//   window_driver stats
//
// STEP is connect (picks the port, "连接串口"), check ("获取最新版本", which must
// find a newer firmware) or update ("立即更新固件", which must end with the
// device reconnected). The steps run in the order given; the first one that
// ends with another status stops the run.
//
//   --record FILE   Wine's relay trace of the program's SetWindowTextW calls
//                   (status_record.h): the status texts are read from it, every
//                   one of them. The window is read as well, as fast as it
//                   answers, and the texts it showed are checked against the
//                   record. Without a record only the window is read, which
//                   misses a text that is replaced before the next read.
//   --port NAME     the port to pick in the list (default: the first one listed)
//   --shots PREFIX  pictures of the window as 24-bit BMP files: PREFIX1-connected.bmp
//                   (after connect), PREFIX2-found.bmp (after check),
//                   PREFIX3-writing.bmp (while the image is copied) and PREFIX4-done.bmp
//   --timeout S     give up after S seconds in all (default 120)
//
// Output on stdout: one line per status text, "  12.34 s  text" (seconds since
// the driver started); a run of one text repeated (one per downloaded or
// written piece) as one line with its count and the progress bar's last
// percentage; lines starting with " >" are the driver's own notes, among them
// "<step> took N s". `stats` prints the program's handle count and memory as
// key=value pairs on one line.
//
// Exit code 0: every step ended as it should; 1: a step ended otherwise, the
// time ran out or the window went away (the last status is printed); 2: usage
// or no window.
#include <windows.h>
#include <psapi.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "probe.h"
#include "status_record.h"
#include "view/control_ids.h"

namespace {

// The texts that end the steps well, and the one shown while the image is copied.
constexpr wchar_t kSynced[] = L"设备状态已同步。";
constexpr wchar_t kFoundPrefix[] = L"检测到新固件: ";
constexpr wchar_t kWriting[] = L"正在写入 UF2 到 RPI-RP2...";
constexpr wchar_t kUpdated[] = L"固件更新完成，设备已重连。";

constexpr DWORD kSendTimeoutMs = 2000;
constexpr ULONGLONG kProgressSampleMs = 15;
constexpr ULONGLONG kQuietWaitMs = 5000;
constexpr ULONGLONG kLiveWaitMs = 2000;
// Wine's longest delay from a busy thread's painting to the X screen, and some.
constexpr ULONGLONG kScreenLagMs = 60;
constexpr int kSteadyShotTries = 50;

void Out(const std::wstring& line) {
    const std::wstring text = line + L"\n";
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring Format(const wchar_t* format, ...) {
    wchar_t buffer[1024];
    va_list args;
    va_start(args, format);
    vswprintf(buffer, sizeof buffer / sizeof buffer[0], format, args);
    va_end(args);
    return buffer;
}

void NoteLine(const std::wstring& text) { Out(L" > " + text); }

// One WM_GETTEXT: asking for the length first would let the text change in between.
bool ReadText(HWND control, std::wstring& text) {
    wchar_t buffer[1024] = {};
    DWORD_PTR copied = 0;
    if (control == nullptr || !SendMessageTimeoutW(control, WM_GETTEXT, sizeof buffer / sizeof buffer[0],
                                                   reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                                                   kSendTimeoutMs, &copied)) {
        return false;
    }
    text.assign(buffer, copied < sizeof buffer / sizeof buffer[0] ? copied : 0);
    return true;
}

// Follows the record as the program appends to it, from where it ended when the
// driver started: what was there before belongs to earlier runs.
class RecordTail {
public:
    RecordTail() = default;
    RecordTail(const RecordTail&) = delete;
    RecordTail& operator=(const RecordTail&) = delete;
    ~RecordTail() {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    }

    bool Open(const std::wstring& path) {
        file_ = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        LARGE_INTEGER zero{};
        return file_ != INVALID_HANDLE_VALUE && SetFilePointerEx(file_, zero, nullptr, FILE_END);
    }

    // The texts given to `window` since the last call, in order.
    void Read(uint32_t window, std::vector<RecordedText>& texts) {
        static char buffer[1 << 16];
        DWORD got = 0;
        while (ReadFile(file_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            pending_.append(buffer, got);
            size_t start = 0;
            for (size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1) {
                RecordedText text;
                if (ParseRelayTextLine(pending_.substr(start, end - start), text) && text.window == window) {
                    texts.push_back(std::move(text));
                }
            }
            pending_.erase(0, start);  // a line the program has not finished writing waits for its end
        }
    }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::string pending_;
};

struct Status {
    ULONGLONG tick;
    std::wstring text;
};

// Prints the status texts; a text is held back until another one follows (or
// the step ends), so that a run of it can be printed as one line with its count.
class StatusPrinter {
public:
    explicit StatusPrinter(ULONGLONG start) : start_(start) {}

    void Add(const Status& status) {
        if (open_ && status.text == text_) {
            ++count_;
            return;
        }
        Flush();
        open_ = true;
        tick_ = status.tick;
        text_ = status.text;
        count_ = 1;
        percent_ = -1;
    }
    bool Repeating() const { return open_ && count_ > 1; }
    void Progress(int percent) {
        if (open_ && percent > percent_) percent_ = percent;
    }
    void Flush() {
        if (!open_) return;
        std::wstring line = Format(L"%7.2f s  ", static_cast<double>(tick_ - start_) / 1000.0) + text_;
        if (count_ > 1) {
            line += Format(L"  (\u00d7%d", count_);
            if (percent_ >= 0) line += Format(L", progress bar %d%%", percent_);
            line += L")";
        }
        Out(line);
        open_ = false;
        for (const std::wstring& note : notes_) NoteLine(note);
        notes_.clear();
    }
    // The driver's own line; one made while a text is held back follows that text's line.
    void Note(const std::wstring& text) {
        if (open_) {
            notes_.push_back(text);
        } else {
            NoteLine(text);
        }
    }

private:
    ULONGLONG start_;
    bool open_ = false;
    ULONGLONG tick_ = 0;
    std::wstring text_;
    int count_ = 0;
    int percent_ = -1;
    std::vector<std::wstring> notes_;
};

bool PendingPaint(HWND window) { return GetUpdateRect(window, nullptr, FALSE) != 0; }

bool AnyPendingPaint(HWND main) {
    bool pending = PendingPaint(main);
    EnumChildWindows(
        main,
        [](HWND child, LPARAM context) -> BOOL {
            if (!PendingPaint(child)) return TRUE;
            *reinterpret_cast<bool*>(context) = true;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&pending));
    return pending;
}

enum class Step { Connect, Check, Update };

const wchar_t* StepName(Step step) {
    switch (step) {
    case Step::Connect:
        return L"connect";
    case Step::Check:
        return L"check";
    case Step::Update:
        return L"update";
    }
    return L"?";
}

class Driver {
public:
    Driver(HWND main, std::unique_ptr<RecordTail> record, ULONGLONG start, ULONGLONG deadline,
           std::wstring shotPrefix)
        : main_(main),
          label_(ProbeControl(main, IdStatusLabel)),
          bar_(ProbeControl(main, IdProgressBar)),
          record_(std::move(record)),
          start_(start),
          deadline_(deadline),
          shotPrefix_(std::move(shotPrefix)),
          printer_(start) {}

    // The status line as it shows when the driver starts.
    bool Start() {
        std::wstring text;
        if (!ReadText(label_, text)) return false;
        polled_.push_back(text);
        AddStatus(Status{GetTickCount64(), text});
        return true;
    }

    bool Run(Step step, const std::wstring& port) {
        if (step == Step::Connect && !SelectPort(port)) return false;
        const int command = step == Step::Connect ? IdConnectButton
                            : step == Step::Check ? IdCheckLatestButton
                                                  : IdUpdateButton;
        const size_t mark = statuses_.size();
        const ULONGLONG posted = GetTickCount64();
        if (!ProbePostCommand(main_, command)) return Stop(step, L"the command could not be posted");
        bool photographedCopy = step != Step::Update;
        // A task's first status is posted after the window has disabled its commands,
        // and its end gives them back: "连接串口" found enabled after a status of the
        // task has been seen means the task is over. The record is read once more
        // after the button, so it then holds every text of the task.
        for (;;) {
            if (!IsWindow(main_)) return Stop(step, L"the window went away");
            if (GetTickCount64() >= deadline_) return Stop(step, L"gave up: the time ran out");
            const bool begun = statuses_.size() > mark;
            const bool idle = ProbeEnabled(main_, IdConnectButton);
            Tick();
            if (!photographedCopy && SeenSince(mark, kWriting)) {
                photographedCopy = true;
                LiveShot(L"3-writing", kWriting);
            }
            if (begun && idle) break;
            Sleep(1);
        }
        const Status last = statuses_.back();
        const bool ok = step == Step::Connect ? last.text == kSynced
                        : step == Step::Check ? last.text.rfind(kFoundPrefix, 0) == 0
                                              : last.text == kUpdated;
        printer_.Flush();
        if (!ok) return Stop(step, L"it ended with another status");
        Note(Format(L"%ls took %.2f s", StepName(step), static_cast<double>(last.tick - posted) / 1000.0));
        switch (step) {
        case Step::Connect:
            QuietShot(L"1-connected");
            Note(L"firmware on the device: " + TextOf(IdCurrentVersionLabel));
            break;
        case Step::Check:
            QuietShot(L"2-found");
            Note(L"newer firmware offered: " + TextOf(IdLatestVersionLabel));
            break;
        case Step::Update:
            QuietShot(L"4-done");
            Note(L"firmware on the device now: " + TextOf(IdCurrentVersionLabel));
            break;
        }
        return true;
    }

    // With a record: were the texts the window showed all in it, in its order,
    // and how many of the recorded texts did reading the window catch?
    void CrossCheck() {
        Tick();
        printer_.Flush();
        if (!record_) return;
        std::vector<std::wstring> recorded;
        for (const Status& status : statuses_) {
            if (recorded.empty() || recorded.back() != status.text) recorded.push_back(status.text);
        }
        std::vector<bool> caught(recorded.size(), false);
        size_t next = 0;
        std::wstring strays;
        for (const std::wstring& text : polled_) {
            size_t at = next;
            while (at < recorded.size() && recorded[at] != text) ++at;
            if (at == recorded.size()) {
                strays += L" \"" + text + L"\"";
                continue;
            }
            caught[at] = true;
            next = at + 1;
        }
        size_t count = 0;
        std::wstring missed;
        for (size_t i = 0; i < recorded.size(); ++i) {
            if (caught[i]) {
                ++count;
            } else {
                missed += L" \"" + recorded[i] + L"\"";
            }
        }
        Note(Format(L"%zu status texts (the first as the driver found it, the others from the record); reading "
                    L"the window caught %zu of them",
                    recorded.size(), count) +
             (missed.empty() ? L"" : L", not" + missed));
        if (!strays.empty()) Note(L"warning: the window showed texts the record lacks:" + strays);
    }

private:
    void Note(const std::wstring& text) { printer_.Note(text); }

    void AddStatus(const Status& status) {
        if (printer_.Repeating() && !statuses_.empty() && statuses_.back().text != status.text) SampleProgress();
        statuses_.push_back(status);
        printer_.Add(status);
    }

    // One look at the program: the status line (unless told to leave the window's
    // thread alone), new lines of the record, and the progress bar while a text
    // repeats piece by piece.
    void Tick(bool readWindow = true) {
        std::wstring shown;
        const bool read = (readWindow || !record_) && ReadText(label_, shown);
        if (read && polled_.back() != shown) {
            polled_.push_back(shown);
            if (!record_) AddStatus(Status{GetTickCount64(), shown});
        }
        if (record_) {
            std::vector<RecordedText> texts;
            record_->Read(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(label_)), texts);
            for (RecordedText& text : texts) {
                // Wine prints only the start of a very long text; the window has all of it.
                if (text.truncated) {
                    text.text = read && shown.rfind(text.text, 0) == 0 ? shown : text.text + L"...";
                }
                AddStatus(Status{text.tickMs != 0 ? text.tickMs : GetTickCount64(), text.text});
            }
        }
        if (printer_.Repeating() && GetTickCount64() - lastSample_ >= kProgressSampleMs) SampleProgress();
    }

    // The row of pixels across the middle of the bar's fill, inside its 2-pixel border.
    RECT BarRow() const {
        RECT bar{};
        GetWindowRect(bar_, &bar);
        const LONG middle = (bar.top + bar.bottom) / 2;
        return RECT{bar.left + 2, middle, bar.right - 2, middle + 1};
    }

    // The percentage the bar shows in a picture that covers it.
    int BarPercent(const ScreenPixels& shot) const {
        const RECT row = BarRow();
        std::vector<uint32_t> pixels;
        for (LONG x = row.left; x < row.right; ++x) pixels.push_back(shot.At(x, row.top));
        return ProgressPercentFromRow(pixels);
    }

    void SampleProgress() {
        lastSample_ = GetTickCount64();
        ScreenPixels shot;
        if (CaptureScreen(BarRow(), shot)) printer_.Progress(BarPercent(shot));
    }

    bool SeenSince(size_t mark, const wchar_t* text) const {
        for (size_t i = mark; i < statuses_.size(); ++i) {
            if (statuses_[i].text == text) return true;
        }
        return false;
    }

    std::wstring TextOf(int id) const {
        std::wstring text;
        ReadText(ProbeControl(main_, id), text);
        return text;
    }

    bool SelectPort(const std::wstring& port) {
        ComboState combo;
        if (!ProbeCombo(main_, IdPortCombo, combo)) return Stop(Step::Connect, L"the port list cannot be read");
        std::wstring listed;
        for (size_t i = 0; i < combo.items.size(); ++i) {
            if ((port.empty() || combo.items[i] == port) && ProbeSelectCombo(main_, IdPortCombo, static_cast<int>(i))) {
                Note(L"picked " + combo.items[i]);
                return true;
            }
            listed += L" " + combo.items[i];
        }
        return Stop(Step::Connect, L"no port " + port + L" in the list:" + (listed.empty() ? L" (empty)" : listed));
    }

    bool Stop(Step step, const std::wstring& why) {
        Tick();
        printer_.Flush();
        const double at = static_cast<double>(GetTickCount64() - start_) / 1000.0;
        const std::wstring last = statuses_.empty() ? L"(none)" : statuses_.back().text;
        Note(Format(L"stopped in step %ls after %.1f s: ", StepName(step), at) + why);
        Note(L"last status: " + last);
        return false;
    }

    bool Capture(ScreenPixels& shot) const {
        RECT area{};
        return GetWindowRect(main_, &area) && CaptureScreen(area, shot);
    }

    void Save(const wchar_t* name, const ScreenPixels& shot, const std::wstring& remark) {
        const std::wstring path = shotPrefix_ + name + L".bmp";
        if (!SaveBitmap(shot, path)) {
            Note(L"could not write " + path);
            return;
        }
        Note(std::wstring(L"screenshot ") + name + remark);
    }

    // The window at rest: nothing left to paint and two pictures in a row alike.
    // Wine puts a painted window on the X screen when its thread next waits for
    // messages, so a picture taken just after the paint can still show the old one.
    void QuietShot(const wchar_t* name) {
        if (shotPrefix_.empty()) return;
        const ULONGLONG until = GetTickCount64() + kQuietWaitMs;
        while (AnyPendingPaint(main_) && GetTickCount64() < until) {
            Tick();
            Sleep(1);
        }
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(main_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
        ScreenPixels shot;
        if (!Capture(shot)) return Note(L"could not capture the window");
        for (int i = 0; i < kSteadyShotTries; ++i) {
            Tick();
            ScreenPixels again;
            if (!Capture(again)) break;
            const bool steady = again.pixels == shot.pixels;
            shot = std::move(again);
            if (steady) break;
        }
        Save(name, shot, L"");
    }

    // The window while `text` is on the status line. Wine puts a thread's painting
    // on the X screen when the thread waits for messages, and, while it never
    // waits, every 50 ms: a thread working off one posted message after another
    // (two for each piece of the copy) shows a new text up to 50 ms late, and never
    // gets to WM_PAINT for the bar. So pictures are taken while the text lasts, and
    // the last one begun and finished with the text still set is kept, once one
    // begins late enough after the text was set. With a record, the window's thread
    // is left to its work meanwhile.
    void LiveShot(const wchar_t* name, const std::wstring& text) {
        if (shotPrefix_.empty()) return;
        ULONGLONG setAt = GetTickCount64();
        for (auto it = statuses_.rbegin(); it != statuses_.rend() && it->text == text; ++it) setAt = it->tick;
        const ULONGLONG until = GetTickCount64() + kLiveWaitMs;
        ScreenPixels kept;
        ULONGLONG keptAt = 0;
        while (GetTickCount64() < until && statuses_.back().text == text) {
            const ULONGLONG begun = GetTickCount64();
            ScreenPixels shot;
            if (!Capture(shot)) break;
            Tick(false);
            if (statuses_.back().text != text) break;
            kept = std::move(shot);
            keptAt = begun;
            if (keptAt >= setAt + kScreenLagMs) break;
        }
        if (kept.pixels.empty()) {
            return Note(std::wstring(L"no screenshot ") + name + L": \"" + text +
                        L"\" was gone before a picture was done");
        }
        Save(name, kept, keptAt >= setAt + kScreenLagMs ? L"" : L" (taken early: the screen may not show the text yet)");
    }

    HWND main_;
    HWND label_;
    HWND bar_;
    std::unique_ptr<RecordTail> record_;
    ULONGLONG start_;
    ULONGLONG deadline_;
    std::wstring shotPrefix_;
    StatusPrinter printer_;
    std::vector<Status> statuses_;    // every status text since the start, in order
    std::vector<std::wstring> polled_;  // the texts reading the window saw, each change once
    ULONGLONG lastSample_ = 0;
};

// SystemExtendedHandleInformation: every open handle of every process.
constexpr ULONG kSystemExtendedHandleInformation = 64;
struct HandleEntry {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG access;
    USHORT creatorBackTrace;
    USHORT objectType;
    ULONG attributes;
    ULONG reserved;
};
struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};
using QuerySystemInformation = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);

// The process's handles counted in the system's handle table: Wine 8 answers
// GetProcessHandleCount with success and 0 for every process, while its table
// (like Windows') lists each handle with its owner. -1 when it cannot be read.
long HandlesInSystemTable(DWORD processId) {
    const auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return -1;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004L);
    std::vector<unsigned char> buffer(1 << 16);
    LONG status = 0;
    for (int i = 0; i < 16; ++i) {
        ULONG needed = 0;
        status = query(kSystemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status != kInfoLengthMismatch) break;
        buffer.resize(buffer.size() * 2 > needed ? buffer.size() * 2 : needed + 4096);
    }
    if (status != 0) return -1;
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    long count = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i) {
        if (table->entries[i].processId == processId) ++count;
    }
    return count;
}

int Stats() {
    HWND main = FindProgramWindow(10000);
    DWORD processId = 0;
    if (main == nullptr || GetWindowThreadProcessId(main, &processId) == 0) {
        fwprintf(stderr, L"window_driver: no window of class NORVA1MainWindow\n");
        return 2;
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr) {
        fwprintf(stderr, L"window_driver: cannot open the program's process (error %lu)\n", GetLastError());
        return 1;
    }
    DWORD apiCount = 0;
    if (!GetProcessHandleCount(process, &apiCount)) apiCount = 0;
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    const bool haveMemory = GetProcessMemoryInfo(process, &memory, sizeof memory) != 0;
    CloseHandle(process);
    const long handles = HandlesInSystemTable(processId);
    if (handles < 0 || !haveMemory) {
        fwprintf(stderr, L"window_driver: cannot read the program's handles or memory\n");
        return 1;
    }
    Out(Format(L"handles=%ld handle_count_api=%lu working_set_kib=%zu peak_working_set_kib=%zu pagefile_kib=%zu",
               handles, apiCount, memory.WorkingSetSize / 1024, memory.PeakWorkingSetSize / 1024,
               memory.PagefileUsage / 1024));
    return 0;
}

int Usage() {
    fwprintf(stderr, L"usage: window_driver [--record FILE] [--port NAME] [--shots PREFIX] [--timeout S] "
                     L"connect|check|update ...\n       window_driver stats\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const ULONGLONG start = GetTickCount64();
    std::wstring recordPath;
    std::wstring port;
    std::wstring shots;
    double timeoutS = 120;
    std::vector<Step> steps;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"stats" && argc == 2) return Stats();
        if (arg == L"--record" && hasValue) {
            recordPath = argv[++i];
        } else if (arg == L"--port" && hasValue) {
            port = argv[++i];
        } else if (arg == L"--shots" && hasValue) {
            shots = argv[++i];
        } else if (arg == L"--timeout" && hasValue) {
            timeoutS = wcstod(argv[++i], nullptr);
        } else if (arg == L"connect") {
            steps.push_back(Step::Connect);
        } else if (arg == L"check") {
            steps.push_back(Step::Check);
        } else if (arg == L"update") {
            steps.push_back(Step::Update);
        } else {
            return Usage();
        }
    }
    if (steps.empty() || timeoutS <= 0) return Usage();

    std::unique_ptr<RecordTail> record;
    if (!recordPath.empty()) {
        record = std::make_unique<RecordTail>();
        if (!record->Open(recordPath)) {
            fwprintf(stderr, L"window_driver: cannot read the record %ls (error %lu)\n", recordPath.c_str(),
                     GetLastError());
            return 2;
        }
    }
    HWND main = FindProgramWindow(15000);
    if (main == nullptr) {
        fwprintf(stderr, L"window_driver: no window of class NORVA1MainWindow\n");
        return 2;
    }
    Driver driver(main, std::move(record), start, start + static_cast<ULONGLONG>(timeoutS * 1000), shots);
    if (!driver.Start()) {
        fwprintf(stderr, L"window_driver: the window does not answer\n");
        return 2;
    }
    for (Step step : steps) {
        if (!driver.Run(step, port)) {
            driver.CrossCheck();
            return 1;
        }
    }
    driver.CrossCheck();
    return 0;
}
