#include "simmac/log/log_simulate.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tmlog {

namespace {

// The simulated machine, in the wording of macOS 10.13 to 10.15 (the
// TMLogInfo and TMLogError categories, "Backing up to", "Backup failed
// with error: N"). The apostrophe in the computer's name is U+2019.
const char* const kDisk = "Backup Plus";
const char* const kDevice = "/dev/disk3s2";
const char* const kComputer = "Sam\xE2\x80\x99s MacBook Pro";
const char* const kSourceVolume = "Macintosh HD - Data";
const char* const kInfo = "TMLogInfo";
const char* const kError = "TMLogError";

// The same laptop on macOS 11 and later backs up over the network, to a
// disk image on the share "TimeMachine" of a NAS named Attic, and logs in
// the categories of those systems ("General", "BackupDispatching",
// "Mounting", ...): "Starting backup with mode ...", "Backing up 1 volumes
// to ...", "Completed backup: ...", "Backup failed: BACKUP_FAILED_... (N)".
const char* const kShareUrl = "smb://sam@Attic._smb._tcp.local./TimeMachine";
const char* const kShareMount = "/Volumes/.timemachine/Attic._smb._tcp.local./6F1C3A52-0D7B-4E8A-9C21-54B8E0F3A7D9/"
                                "TimeMachine";
const char* const kImageName = "Backups of Sam\xE2\x80\x99s MacBook Pro";
const char* const kImageDevice = "/dev/disk7s2";
const char* const kGeneral = "General";

constexpr std::int64_t kSecond = 1000000; // microseconds
constexpr std::int64_t kHour = 3600 * kSecond;

// splitmix64: small, fast, and the same sequence on every platform, which
// std::uniform_int_distribution does not promise.
class Rng {
public:
    explicit Rng(std::uint64_t seed)
        : state_(seed)
    {
    }
    std::uint64_t Next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // 0 to n - 1.
    std::int64_t Below(std::int64_t n)
    {
        return n <= 1 ? 0 : static_cast<std::int64_t>(Next() % static_cast<std::uint64_t>(n));
    }
    // lo to hi, both included.
    std::int64_t Between(std::int64_t lo, std::int64_t hi) { return lo + Below(hi - lo + 1); }
    bool PerThousand(int p) { return Below(1000) < p; }
    template <typename T, std::size_t N> const T& Pick(const T (&items)[N])
    {
        return items[static_cast<std::size_t>(Below(static_cast<std::int64_t>(N)))];
    }

private:
    std::uint64_t state_;
};

std::uint64_t Seed(int year, int month, int day, int hour)
{
    std::uint64_t key = static_cast<std::uint64_t>(year); // YYYYMMDDHH
    for (const int part : {month, day, hour})
        key = key * 100 + static_cast<std::uint64_t>(part);
    Rng mix(key ^ 0x51AB7E3C9D2F4A61ULL);
    return mix.Next();
}

// The value with the given number of decimals (1 or 2).
std::string Fixed(double value, int decimals)
{
    char buf[64];
    if (decimals == 1)
        std::snprintf(buf, sizeof buf, "%.1f", value);
    else
        std::snprintf(buf, sizeof buf, "%.2f", value);
    return buf;
}

std::string Size(double megabytes)
{
    if (megabytes >= 1000.0)
        return Fixed(megabytes / 1000.0, 2) + " GB";
    return Fixed(megabytes, 1) + " MB";
}

std::string Uuid(Rng& rng)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (int i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20)
            s += '-';
        s += digits[rng.Below(16)];
    }
    return s;
}

// What one day looks like: process ids, the minute of the hourly backup,
// and the hours the laptop spends away from its backup disk.
struct DayPlan {
    int backupdPid = 0;
    int helperPid = 0;
    int uiServerPid = 0;
    int baseMinute = 0; // 10-48: leaves room for a manual backup before it
    int awayFrom = -1; // first local hour without the disk; -1 = none
    int awayTo = -1; // first hour with the disk again
    bool ejectWhenLeaving = false; // the disk is ejected during the first away hour's backup
};

DayPlan PlanDay(int year, int month, int day)
{
    Rng rng(Seed(year, month, day, 99));
    DayPlan plan;
    plan.backupdPid = static_cast<int>(rng.Between(300, 2400));
    plan.helperPid = static_cast<int>(rng.Between(300, 900));
    plan.uiServerPid = static_cast<int>(rng.Between(400, 700));
    plan.baseMinute = static_cast<int>(rng.Between(10, 48));
    if (rng.PerThousand(300)) {
        plan.awayFrom = static_cast<int>(rng.Between(9, 18));
        plan.awayTo = plan.awayFrom + static_cast<int>(rng.Between(1, 5));
        plan.ejectWhenLeaving = rng.PerThousand(500);
    }
    return plan;
}

enum class Problem {
    None,
    SkippedFile, // SrcErr:YES copy error, the backup goes on
    InvisibleFile, // the same for a .DS_Store file
    NullDestination, // SrcErr:YES ... to (null)
    NullBoth, // SrcErr:YES Copying (null) to (null)
    Importer, // Spotlight's importer fails on the backup disk
    Failed, // SrcErr:NO copy error stops the backup
    Ejected, // the disk is ejected during the backup
};

// Problem files. The simulated Mac's startup disk is this machine's root
// and its user's home the real one, so that the folder of a problem file
// exists and Show Problem opens it: a file lies in one of the home's real
// folders (ProblemFolder), and so does an invisible .DS_Store file, in one
// of kInvisibleFolderChoices places.
const char* const kProblemFiles[]
    = {"receipts.numbers", "History", "Photos.sqlite", "15 Careless.mp3", "quarterly.key", "chapter3.docx"};
constexpr std::int64_t kInvisibleFolderChoices = 5;

// The folders of the real home a problem file may lie in, those that exist
// (the home itself when none does), found once.
const std::vector<std::string>& ProblemFolders()
{
    static const std::vector<std::string> folders = [] {
        std::vector<std::string> found;
        const char* home = std::getenv("HOME");
        std::string root = home && home[0] == '/' ? home : "";
        while (root.ends_with('/'))
            root.pop_back();
        if (root.empty())
            root = "/Users/sam";
        std::error_code error;
        for (const char* name : {"Documents", "Pictures", "Desktop", "Music", "Downloads"})
            if (std::filesystem::is_directory(root + "/" + name, error))
                found.push_back(root + "/" + name);
        if (found.empty())
            found.push_back(root);
        return found;
    }();
    return folders;
}

// The real folder for a choice of the simulation (0 and up).
const std::string& ProblemFolder(std::int64_t index)
{
    return ProblemFolders()[static_cast<std::size_t>(index) % ProblemFolders().size()];
}

const char* const kPreferenceFiles[] = {
    "com.apple.dt.Xcode.plist",
    "com.apple.Safari.plist",
    "com.microsoft.Word.plist",
};

const char* const kExcludedPaths[] = {
    "/Users/sam/Library/Caches/com.apple.Safari",
    "/Users/sam/Library/Containers/com.docker.docker",
    "/Users/sam/Downloads/ubuntu-24.04-desktop.iso",
    "/Users/sam/Library/Application Support/MobileSync",
};

class HourBuilder {
public:
    HourBuilder(std::int64_t hourStart, const LocalTime& local, const DayPlan& plan, bool recent)
        : hourStart_(hourStart)
        , plan_(plan)
        , rng_(Seed(local.year, local.month, local.day, local.hour))
        , recent_(recent)
    {
    }

    // `at`: microseconds after the start of the hour, clipped into the hour.
    void Add(std::int64_t at, const char* process, int pid, std::uint32_t thread, EntryType type,
        std::uint32_t activity, const char* category, std::string message)
    {
        at = std::clamp<std::int64_t>(at, 0, kHour - 1);
        Entry e;
        e.when.seconds = hourStart_ + at / kSecond;
        e.when.micros = static_cast<int>(at % kSecond);
        e.thread = thread;
        e.type = type;
        e.activity = activity;
        e.pid = pid;
        e.process = process;
        e.category = category;
        e.message = std::move(message);
        lines_ += 1 + static_cast<int>(std::count(e.message.begin(), e.message.end(), '\n'));
        entries_.push_back(std::move(e));
    }

    void Backupd(std::int64_t at, std::uint32_t thread, std::uint32_t activity, EntryType type, std::string message)
    {
        const char* category = recent_ ? kGeneral : type == EntryType::Error ? kError : kInfo;
        Add(at, "backupd", plan_.backupdPid, thread, type, activity, category, std::move(message));
    }

    // A backupd entry in a category of macOS 11 and later.
    void Recent(std::int64_t at, std::uint32_t thread, std::uint32_t activity, EntryType type, const char* category,
        std::string message)
    {
        Add(at, "backupd", plan_.backupdPid, thread, type, activity, category, std::move(message));
    }

    // "2026-03-10-110412": the local time of `at`, as backup and snapshot names have it.
    std::string NameStamp(std::int64_t at) const
    {
        const LocalTime t = ToLocal(hourStart_ + at / kSecond);
        char buf[32];
        std::snprintf(
            buf, sizeof buf, "%04d-%02d-%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
        return buf;
    }

    std::uint32_t NewThread() { return static_cast<std::uint32_t>(rng_.Between(0x10000, 0x1ffffff)); }
    std::uint32_t NewActivity() { return static_cast<std::uint32_t>(rng_.Between(0x10000, 0x2fffff)); }

    Rng& rng() { return rng_; }
    // What follows comes from a sequence of its own.
    void Reseed(std::uint64_t seed) { rng_ = Rng(seed); }
    const DayPlan& plan() const { return plan_; }
    bool recent() const { return recent_; }
    int lines() const { return lines_; }
    std::vector<Entry>& entries() { return entries_; }

private:
    std::int64_t hourStart_;
    const DayPlan& plan_;
    Rng rng_;
    std::vector<Entry> entries_;
    int lines_ = 0;
    bool recent_ = false; // the wording of macOS 11 and later
};

std::string BackupFolder(const std::string& backupName)
{
    return std::string("/Volumes/") + kDisk + "/Backups.backupdb/" + kComputer + "/" + backupName;
}

void CreateLocalSnapshot(HourBuilder& h, std::int64_t at, std::uint32_t thread, std::uint32_t activity)
{
    h.Backupd(at, thread, activity, EntryType::Default,
        "Created Time Machine local snapshot with name 'com.apple.TimeMachine." + h.NameStamp(at) + "' on disk '/'");
}

// One backup from its start at `t`; returns the time of its last entry.
// copyMin and copyMax bound the seconds spent copying.
std::int64_t RunBackup(HourBuilder& h, std::int64_t t, bool manual, Problem problem, int copyMin, int copyMax)
{
    Rng& rng = h.rng();
    const std::uint32_t thread = h.NewThread();
    const std::uint32_t activity = h.NewActivity();
    const auto ms = [&rng](int lo, int hi) { return rng.Between(lo, hi) * 1000; };

    h.Backupd(t, thread, activity, EntryType::Default, manual ? "Starting manual backup" : "Starting automatic backup");
    t += ms(20, 80);
    h.Backupd(t, thread, activity, EntryType::Default,
        std::string("Backing up to ") + kDevice + ": /Volumes/" + kDisk + "/Backups.backupdb");
    t += ms(150, 450);
    h.Backupd(t, thread, activity, EntryType::Info, std::string("Mountpoint '/Volumes/") + kDisk + "' is still valid");
    if (problem == Problem::Importer) {
        t += ms(300, 900);
        h.Backupd(t, thread, activity, EntryType::Info, "Waiting for index to be ready (101)");
        t += ms(30000, 90000);
        h.Backupd(t, thread, activity, EntryType::Error,
            std::string("Importer start failed for /Volumes/") + kDisk + " (101), Spotlight indexing conflict");
    }
    t += ms(800, 1500);
    const std::string snapshot = "com.apple.TimeMachine." + h.NameStamp(t);
    CreateLocalSnapshot(h, t, thread, activity);
    t += ms(500, 2000);
    h.Backupd(t, thread, activity, EntryType::Info,
        std::string("Finished collecting events from volume \"") + kSourceVolume + "\"");
    const std::string backupName = h.NameStamp(t + kSecond);
    const std::string inProgress = BackupFolder(backupName) + ".inProgress/" + Uuid(rng);
    t += ms(50, 150);
    h.Backupd(t, thread, activity, EntryType::Info,
        "Saved event cache at " + BackupFolder(backupName) + ".inProgress/." + Uuid(rng) + ".eventdb");

    const int files = static_cast<int>(rng.Between(12, 2400));
    const double megabytes = files * static_cast<double>(rng.Between(5, 400)) / 100.0;
    t += ms(300, 1000);
    h.Backupd(t, thread, activity, EntryType::Info, "Will copy (" + Size(megabytes) + ") from " + kSourceVolume);
    t += ms(5, 30);
    h.Backupd(t, thread, activity, EntryType::Info,
        "Found " + std::to_string(files) + " files (" + Size(megabytes) + ") needing backup");
    t += ms(10, 50);
    const double required = megabytes / 1000.0 * 1.2 + static_cast<double>(rng.Between(800, 2400)) / 100.0;
    h.Backupd(t, thread, activity, EntryType::Info,
        Fixed(required, 2) + " GB required (including padding), "
            + Fixed(static_cast<double>(rng.Between(40, 180)) / 100.0, 2) + " TB available");

    const std::int64_t copy = rng.Between(copyMin, copyMax) * kSecond;
    const std::int64_t problemAt = t + copy / 3 + rng.Below(copy / 3 + 1);
    const std::int64_t fileChoice = rng.Below(static_cast<std::int64_t>(std::size(kProblemFiles)));
    const std::string file = kProblemFiles[fileChoice];
    const std::string& fileFolder = ProblemFolder(fileChoice);
    switch (problem) {
    case Problem::SkippedFile:
        h.Backupd(problemAt, thread, activity, EntryType::Error,
            "Error: (-36) SrcErr:YES Copying " + fileFolder + "/" + file + " to " + inProgress + "/" + kSourceVolume
                + fileFolder);
        break;
    case Problem::InvisibleFile: {
        const std::string& folder = ProblemFolder(rng.Below(kInvisibleFolderChoices));
        h.Backupd(problemAt, thread, activity, EntryType::Error,
            "Error: (-36) SrcErr:YES Copying " + folder + "/.DS_Store to " + inProgress + "/" + kSourceVolume + folder);
        break;
    }
    case Problem::NullDestination:
        h.Backupd(problemAt, thread, activity, EntryType::Error,
            std::string("Error: (-8084) SrcErr:YES Copying /Users/sam/Library/Preferences/")
                + rng.Pick(kPreferenceFiles) + " to (null)");
        break;
    case Problem::NullBoth:
        h.Backupd(problemAt, thread, activity, EntryType::Error, "Error: (-8062) SrcErr:YES Copying (null) to (null)");
        break;
    case Problem::Failed: {
        h.Backupd(problemAt, thread, activity, EntryType::Error,
            "Error: (-36) SrcErr:NO Copying " + fileFolder + "/" + file + " to " + inProgress + "/" + kSourceVolume
                + fileFolder);
        t = problemAt + ms(1, 20);
        h.Backupd(t, thread, activity, EntryType::Error, "Stopping backup.");
        t += ms(500, 3000);
        const int code = rng.PerThousand(750) ? 11 : 45;
        h.Backupd(t, thread, activity, EntryType::Error, "Backup failed with error: " + std::to_string(code));
        return t;
    }
    case Problem::Ejected:
        t = problemAt;
        h.Backupd(t, thread, activity, EntryType::Default, "Stopping backup to allow disk to be unmounted or ejected.");
        t += ms(200, 900);
        h.Backupd(t, thread, activity, EntryType::Default, "Backup canceled.");
        return t;
    case Problem::None:
    case Problem::Importer:
        break;
    }

    t += copy;
    const int copied = files + static_cast<int>(rng.Between(0, files / 5 + 3));
    h.Backupd(t, thread, activity, EntryType::Info,
        "Copied " + std::to_string(copied) + " items (" + Size(megabytes * 0.98) + ") from volume " + kSourceVolume
            + ". Linked " + std::to_string(rng.Between(2000, 40000)) + ".");
    t += ms(1000, 8000);
    h.Backupd(t, thread, activity, EntryType::Info, "Created new backup: " + backupName);
    t += ms(300, 1000);
    h.Backupd(t, thread, activity, EntryType::Info, "Starting post-backup thinning");
    if (rng.PerThousand(750)) {
        t += ms(2000, 30000);
        const std::string expired = h.NameStamp(t - 24 * kHour - rng.Between(0, 600) * kSecond);
        h.Backupd(t, thread, activity, EntryType::Info,
            "Deleted " + BackupFolder(expired) + " (" + Size(static_cast<double>(rng.Between(10, 3000)) / 10.0) + ")");
        t += ms(10, 100);
        h.Backupd(t, thread, activity, EntryType::Info, "Post-backup thinning complete: 1 expired backups removed");
    } else {
        t += ms(50, 300);
        h.Backupd(t, thread, activity, EntryType::Info, "No post-backup thinning needed: no expired backups exist");
    }
    t += ms(200, 1000);
    h.Backupd(t, thread, activity, EntryType::Info, "Marked as reference snapshot: " + snapshot);
    t += ms(100, 500);
    h.Backupd(t, thread, activity, EntryType::Default, "Backup completed successfully.");
    return t;
}

// The scheduled backup of an hour in which the disk is not there.
void DiskAway(HourBuilder& h, std::int64_t t)
{
    Rng& rng = h.rng();
    const std::uint32_t thread = h.NewThread();
    const std::uint32_t activity = h.NewActivity();
    const std::int64_t roll = rng.Below(100);
    if (roll < 55) {
        h.Backupd(t, thread, activity, EntryType::Default,
            "Not starting scheduled Time Machine backup - time machine destination not resolvable.");
    } else {
        h.Backupd(t, thread, activity, EntryType::Default, "Starting automatic backup");
        t += rng.Between(60, 62) * kSecond + rng.Below(kSecond);
        h.Backupd(t, thread, activity, EntryType::Error,
            std::string("Backup failed with error: ") + (roll < 92 ? "19" : "27"));
    }
    if (rng.PerThousand(900)) {
        t += rng.Between(800, 3000) * 1000;
        CreateLocalSnapshot(h, t, thread, activity);
    }
}

// The scheduled backup of an hour with the disk attached.
void DiskHere(HourBuilder& h, std::int64_t t, bool ejected)
{
    Rng& rng = h.rng();
    if (ejected) {
        RunBackup(h, t, false, Problem::Ejected, 60, 300);
        return;
    }
    // Now and then the user has just started a backup by hand, and the
    // scheduled one is not started.
    const std::int64_t manual = rng.Below(1000);
    if (manual < 15) {
        RunBackup(h, t - 2 * 60 * kSecond, true, Problem::None, 200, 400);
        h.Backupd(t, h.NewThread(), 0, EntryType::Default,
            "Not starting scheduled Time Machine backup - Backup already running");
        return;
    }
    if (manual < 30) {
        RunBackup(h, t - 9 * 60 * kSecond, true, Problem::None, 20, 60);
        h.Backupd(t, h.NewThread(), 0, EntryType::Default,
            "Not starting scheduled Time Machine backup - Less than 10 minutes since last backup");
        return;
    }
    const std::int64_t roll = rng.Below(1000);
    Problem problem = Problem::None;
    if (roll < 12)
        problem = Problem::SkippedFile;
    else if (roll < 20)
        problem = Problem::InvisibleFile;
    else if (roll < 26)
        problem = Problem::NullDestination;
    else if (roll < 29)
        problem = Problem::NullBoth;
    else if (roll < 36)
        problem = Problem::Importer;
    else if (roll < 48)
        problem = Problem::Failed;
    RunBackup(h, t, false, problem, 20, 420);
}

// --- The wording of macOS 11 and later --------------------------------------

enum class RecentProblem {
    None,
    ImageDisconnected, // the share goes away while the backup copies
    PreflightFailed, // the backup stops before it copies anything
};

std::string ImageMount()
{
    return std::string("/Volumes/") + kImageName;
}

// Dispatch, the start and the share's mount, common to every attempt.
std::int64_t RecentStart(HourBuilder& h, std::int64_t t, std::uint32_t thread, std::uint32_t activity, bool manual)
{
    Rng& rng = h.rng();
    h.Recent(t, thread, activity, EntryType::Info, "BackupDispatching",
        std::string("Backup requested to next destination in rotation. specifiedOptions: TMBackupOptions(rawValue: ")
            + (manual ? "0" : "1") + ")");
    t += rng.Between(5, 40) * 1000;
    h.Recent(t, thread, activity, EntryType::Info, "BackupDispatching",
        "Not prioritizing backups with priority errors. lockState=0");
    t += rng.Between(1, 10) * 1000;
    h.Recent(t, thread, activity, EntryType::Default, kGeneral,
        std::string("Starting backup with mode \"") + (manual ? "manual" : "automatic") + " backup\"");
    t += rng.Between(20, 80) * 1000;
    h.Recent(t, thread, activity, EntryType::Info, "Mounting", std::string("Attempting to mount '") + kShareUrl + "'");
    return t;
}

// One backup over the network from its start at `t`.
void RecentBackup(HourBuilder& h, std::int64_t t, bool manual, RecentProblem problem)
{
    Rng& rng = h.rng();
    const std::uint32_t thread = h.NewThread();
    const std::uint32_t activity = h.NewActivity();
    const auto ms = [&rng](int lo, int hi) { return rng.Between(lo, hi) * 1000; };

    t = RecentStart(h, t, thread, activity, manual);
    t += ms(1500, 5000);
    h.Recent(t, thread, activity, EntryType::Info, "Mounting",
        std::string("Mounted '") + kShareUrl + "' at '" + kShareMount + "' ("
            + Fixed(static_cast<double>(rng.Between(120, 260)) / 100.0, 2) + " TB of 3.9 TB available)");
    t += ms(800, 3000);
    h.Recent(t, thread, activity, EntryType::Info, "DiskImages",
        std::string("'") + kShareMount + "/Sam\xE2\x80\x99s MacBook Pro.sparsebundle' mounted at '" + ImageMount()
            + "'");
    t += ms(100, 400);
    h.Recent(
        t, thread, activity, EntryType::Info, "MountPointValidity", "Mountpoint '" + ImageMount() + "' is still valid");
    t += ms(200, 900);
    h.Recent(t, thread, activity, EntryType::Default, kGeneral,
        std::string("Backing up 1 volumes to ") + kImageName + " (" + kImageDevice
            + ",TMBackupOptions(rawValue: 257)): " + ImageMount());
    t += ms(800, 1500);
    h.Recent(t, thread, activity, EntryType::Default, "Local",
        "Created Time Machine local snapshot with name 'com.apple.TimeMachine." + h.NameStamp(t)
            + ".local' on disk 'Data'");
    t += ms(2000, 9000);
    h.Recent(t, thread, activity, EntryType::Info, "EventCollection",
        std::string("Finished collecting events from volume \"") + kSourceVolume + "\"");
    if (problem == RecentProblem::PreflightFailed) {
        t += ms(200, 2000);
        h.Recent(t, thread, activity, EntryType::Error, "EventCollection",
            std::string("Failed to collect events for \"") + kSourceVolume
                + "\", error: Error Domain=com.apple.backupd.ErrorDomain Code=304 \"(null)\"");
        t += ms(100, 900);
        h.Recent(t, thread, activity, EntryType::Default, kGeneral,
            "Backup failed (304: BACKUP_FAILED_PREFLIGHT_STAGE_SNAPSHOT_DIFFING)");
        t += ms(500, 3000);
        h.Recent(t, thread, activity, EntryType::Info, "DiskImages", "Unmounted '" + ImageMount() + "'");
        return;
    }
    const int files = static_cast<int>(rng.Between(12, 2400));
    const double megabytes = files * static_cast<double>(rng.Between(5, 400)) / 100.0;
    t += ms(300, 1500);
    h.Recent(t, thread, activity, EntryType::Info, kGeneral,
        "Estimated " + std::to_string(files) + " files (" + Size(megabytes)
            + ") need to be backed up from all sources");
    const std::int64_t copy = rng.Between(20, 420) * kSecond;
    for (int step = 1; step <= 3; ++step) {
        if (problem == RecentProblem::ImageDisconnected && step == 2) {
            t += copy / 4 + rng.Below(copy / 4 + 1);
            h.Recent(t, thread, activity, EntryType::Default, kGeneral,
                "Failing backup with BACKUP_FAILED_DISCONNECTED_DISK_IMAGE (70) because '" + ImageMount()
                    + "' was unmounted or disconnected.");
            t += ms(50, 400);
            h.Recent(t, thread, activity, EntryType::Default, kGeneral,
                "Backup failed: BACKUP_FAILED_DISCONNECTED_DISK_IMAGE (70)");
            return;
        }
        t += copy / 4;
        h.Recent(t, thread, activity, EntryType::Info, "CopyProgress",
            "Copied " + std::to_string(files * step / 4) + " of " + std::to_string(files) + " files ("
                + Size(megabytes * step / 4) + " of " + Size(megabytes) + ")");
    }
    t += copy / 4;
    h.Recent(t, thread, activity, EntryType::Info, kGeneral,
        "Copied " + std::to_string(files) + " files (" + Size(megabytes) + ") from volume " + kSourceVolume + ".");
    const std::string backupName = h.NameStamp(t - copy);
    if (rng.PerThousand(750)) {
        t += ms(2000, 30000);
        const std::string expired = h.NameStamp(t - 24 * kHour - rng.Between(0, 600) * kSecond);
        h.Recent(t, thread, activity, EntryType::Info, "Thinning", "Thinned 1 backups: " + expired + ".backup");
    }
    t += ms(300, 1000);
    h.Recent(t, thread, activity, EntryType::Default, kGeneral, "Completed backup: " + backupName);
    t += ms(1000, 4000);
    h.Recent(t, thread, activity, EntryType::Info, "DiskImages", "Unmounted '" + ImageMount() + "'");
}

// The scheduled backup of an hour away from home: the NAS cannot be reached.
void RecentAway(HourBuilder& h, std::int64_t t)
{
    Rng& rng = h.rng();
    const std::uint32_t thread = h.NewThread();
    const std::uint32_t activity = h.NewActivity();
    t = RecentStart(h, t, thread, activity, false);
    t += rng.Between(30, 62) * kSecond + rng.Below(kSecond);
    h.Recent(t, thread, activity, EntryType::Error, "Mounting",
        std::string("Failed to mount '") + kShareUrl
            + "', error: Error Domain=NSPOSIXErrorDomain Code=64 \"Host is down\"");
    t += rng.Between(10, 200) * 1000;
    h.Recent(
        t, thread, activity, EntryType::Default, kGeneral, "Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)");
    if (rng.PerThousand(900)) {
        t += rng.Between(800, 3000) * 1000;
        h.Recent(t, thread, activity, EntryType::Default, "Local",
            "Created Time Machine local snapshot with name 'com.apple.TimeMachine." + h.NameStamp(t)
                + ".local' on disk 'Data'");
    }
}

// The scheduled backup of an hour at home; `leaving`: the laptop leaves
// during it.
void RecentHere(HourBuilder& h, std::int64_t t, bool leaving)
{
    const std::int64_t roll = h.rng().Below(1000);
    RecentProblem problem = RecentProblem::None;
    if (leaving || roll < 15)
        problem = RecentProblem::ImageDisconnected;
    else if (roll < 30)
        problem = RecentProblem::PreflightFailed;
    RecentBackup(h, t, false, problem);
}

// The chatter between backups. Every text here is one that the
// application's ignore lists drop, or one without "error" in it.
void Noise(HourBuilder& h, int count, bool diskHere)
{
    Rng& rng = h.rng();
    const DayPlan& plan = h.plan();
    const std::uint32_t helperThread = h.NewThread();
    const std::uint32_t xpcThread = h.NewThread();
    int added = 0;
    while (added < count) {
        std::int64_t t = rng.Below(kHour);
        const std::int64_t kind = rng.Below(100);
        if (kind < 30) {
            const std::int64_t burst = rng.Between(1, 4);
            for (std::int64_t i = 0; i < burst; ++i, ++added) {
                h.Backupd(t, xpcThread, 0, EntryType::Error, "com.apple.backupd.sandbox.xpc: connection invalid");
                t += rng.Between(30, 4000);
            }
        } else if (kind < 36) {
            h.Backupd(t, xpcThread, 0, EntryType::Error, "com.apple.backupd.xpc: connection invalid");
            ++added;
        } else if (kind < 42) {
            h.Backupd(
                t, h.NewThread(), 0, EntryType::Info, "Not prioritizing backups with priority errors. lockState=0");
            ++added;
        } else if (kind < 54) {
            h.Add(t, "backupd-helper", plan.helperPid, helperThread, EntryType::Info, 0, kInfo, "TMPowerState: 2");
            ++added;
        } else if (kind < 59) {
            h.Add(t, "backupd-helper", plan.helperPid, helperThread, EntryType::Info, 0, kInfo,
                "Running for notifyd event com.apple.mobile.keybagd.lock_status");
            t += rng.Between(100, 900);
            h.Add(t, "backupd-helper", plan.helperPid, helperThread, EntryType::Info, 0, kInfo,
                "Triggered for screen unlock!");
            added += 2;
        } else if (kind < 66) {
            if (diskHere)
                h.Backupd(t, h.NewThread(), 0, EntryType::Info,
                    "Mountpoint '" + (h.recent() ? ImageMount() : std::string("/Volumes/") + kDisk)
                        + "' is still valid");
            else
                h.Backupd(t, h.NewThread(), 0, EntryType::Info, "TMPowerState: 2");
            ++added;
        } else if (kind < 71) {
            h.Backupd(t, h.NewThread(), 0, EntryType::Error,
                std::string("Failed to read sticky exclusion on '") + rng.Pick(kExcludedPaths) + "', error: 93");
            ++added;
        } else if (kind < 75) {
            h.Backupd(t, h.NewThread(), 0, EntryType::Info,
                std::string("Injecting event for exclusion ") + rng.Pick(kExcludedPaths));
            ++added;
        } else if (kind < 79) {
            h.Backupd(t, xpcThread, 0, EntryType::Info,
                "Limiting logging for limit: aFewTimes key: \"com.apple.backupd.sandbox.xpc: connection invalid\"");
            ++added;
        } else if (kind < 84) {
            if (diskHere)
                h.Add(t, "SystemUIServer", plan.uiServerPid, h.NewThread(), EntryType::Error, 0, kError,
                    std::string("Failed to read capabilities for '/Volumes/") + kDisk
                        + "', error: Operation not permitted");
            else
                h.Add(t, "SystemUIServer", plan.uiServerPid, h.NewThread(), EntryType::Info, 0, kInfo,
                    "Time Machine menu extra: no backup destination is available");
            ++added;
        } else if (kind < 88) {
            h.Backupd(t, h.NewThread(), 0, EntryType::Info, "Cleared pending cancellation request");
            ++added;
        } else if (kind < 90) {
            h.Backupd(t, h.NewThread(), 0, EntryType::Default,
                "Backup options: {\n\tAutoBackup = 1;\n\tExcludeByPath = (\n\t\t\"/Users/sam/Downloads\"\n\t);\n\t}");
            added += 6;
        } else if (kind < 92) {
            h.Backupd(t, h.NewThread(), 0, EntryType::Info, "Skipping Recovery volume disk1s3");
            ++added;
        } else if (kind < 94) {
            h.Backupd(t, h.NewThread(), 0, EntryType::Error,
                "Couldn't get volume info for unmounted disk /dev/disk1s3, error: 2");
            ++added;
        } else if (kind < 96) {
            h.Backupd(t, h.NewThread(), 0, EntryType::Error,
                "Error iterating sibling links for inode " + std::to_string(rng.Between(100000, 9999999)));
            ++added;
        } else if (kind < 98) {
            h.Backupd(t, h.NewThread(), 0, EntryType::Error,
                "Failed to remove attribute com.apple.backupd.SnapshotVolumeUUID, error: Operation not permitted");
            ++added;
        } else if (kind < 99) {
            h.Backupd(t, h.NewThread(), 0, EntryType::Error,
                "Error writing to backup log. NSFileHandleOperationException: No space left on device");
            ++added;
        } else {
            h.Backupd(t, h.NewThread(), 0, EntryType::Error,
                "Failed to unmount disk image, error: Error Domain=NSPOSIXErrorDomain Code=60 \"Operation timed out\"");
            ++added;
        }
    }
    // A mail message that vanished between the scan and the copy: harmless,
    // and dropped by today's ignore list only.
    if (rng.PerThousand(15))
        h.Backupd(rng.Below(kHour), h.NewThread(), 0, EntryType::Error,
            "Failed to get attributes of /Users/sam/Library/Mail/V7/" + Uuid(rng) + "/INBOX.mbox/Messages/"
                + std::to_string(rng.Between(1000, 99999)) + ".emlx, error: 2 No such file or directory");
}

void GenerateHour(HourBuilder& h, const LocalTime& local, int linesPerHour)
{
    const DayPlan& plan = h.plan();
    Rng& rng = h.rng();
    const bool away = plan.awayFrom >= 0 && local.hour >= plan.awayFrom && local.hour < plan.awayTo;
    const bool ejected = away && plan.ejectWhenLeaving && local.hour == plan.awayFrom;
    const std::int64_t start = (plan.baseMinute * 60 + rng.Between(-60, 60)) * kSecond + rng.Below(kSecond);
    if (h.recent() && away && !ejected)
        RecentAway(h, start);
    else if (h.recent())
        RecentHere(h, start, ejected);
    else if (away && !ejected)
        DiskAway(h, start);
    else
        DiskHere(h, start, ejected);
    const int jitter = static_cast<int>(rng.Between(-linesPerHour / 10, linesPerHour / 10));
    Noise(h, std::max(0, linesPerHour + jitter - h.lines()), !away || ejected);
}

bool NotAfter(const Moment& a, const Moment& b)
{
    return a.seconds < b.seconds || (a.seconds == b.seconds && a.micros <= b.micros);
}

} // namespace

std::vector<std::int64_t> ReadManualBackups()
{
    std::string folder;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state)
        folder = state;
    else if (const char* home = std::getenv("HOME"); home && *home)
        folder = std::string(home) + "/.local/state";
    else
        return {};
    std::ifstream in(folder + "/quillaby/manual-backups");
    std::vector<std::int64_t> starts;
    std::string line;
    while (starts.size() < 1000 && std::getline(in, line)) {
        char* end = nullptr;
        const long long value = std::strtoll(line.c_str(), &end, 10);
        if (end != line.c_str() && *end == '\0' && value > 0)
            starts.push_back(value);
    }
    return starts;
}

void WriteSimulatedEntries(
    std::FILE* out, const Moment& from, const Moment& to, const SimulationOptions& options, Statistics& stats)
{
    if (!NotAfter(from, to))
        return;
    // Hour slots step by 3600 s from the local hour that holds `from`;
    // clock changes move by whole hours, so the slots stay on local hours.
    const LocalTime first = ToLocal(from.seconds);
    std::int64_t slot = FromLocal(first.year, first.month, first.day, first.hour, 0, 0);
    if (slot > from.seconds)
        slot -= 3600;
    int planYear = 0, planMonth = 0, planDay = 0;
    DayPlan plan;
    for (; slot <= to.seconds; slot += 3600) {
        if (slot + 3600 <= from.seconds)
            continue;
        const LocalTime local = ToLocal(slot);
        if (local.year != planYear || local.month != planMonth || local.day != planDay) {
            plan = PlanDay(local.year, local.month, local.day);
            planYear = local.year;
            planMonth = local.month;
            planDay = local.day;
        }
        HourBuilder h(slot, local, plan, options.recentWording);
        GenerateHour(h, local, options.linesPerHour);
        // After the hour's own entries, so that they stay as they were; each
        // from a seed of its own start, so that it is printed the same
        // whatever the rate of the chatter and the other backups begun by
        // hand.
        for (const std::int64_t start : options.manualBackups)
            if (start >= slot && start < slot + 3600) {
                h.Reseed(Rng(static_cast<std::uint64_t>(start) ^ 0x6D616E75616CULL).Next());
                if (options.recentWording)
                    RecentBackup(h, (start - slot) * kSecond, true, RecentProblem::None);
                else
                    RunBackup(h, (start - slot) * kSecond, true, Problem::None, 5, 15);
            }
        // Sorting pointers: moving the entries themselves costs more than
        // everything else when the rate is raised for load tests.
        std::vector<const Entry*> order;
        order.reserve(h.entries().size());
        for (const Entry& e : h.entries())
            order.push_back(&e);
        std::stable_sort(order.begin(), order.end(), [](const Entry* a, const Entry* b) {
            return a->when.seconds < b->when.seconds
                || (a->when.seconds == b->when.seconds && a->when.micros < b->when.micros);
        });
        for (const Entry* e : order) {
            if (!NotAfter(from, e->when) || !NotAfter(e->when, to))
                continue;
            const std::string line = FormatEntry(*e);
            std::fwrite(line.data(), 1, line.size(), out);
            stats.counts[static_cast<int>(e->type)] += 1;
        }
    }
}

} // namespace tmlog
