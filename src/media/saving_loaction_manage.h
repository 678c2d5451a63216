#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/singleton.h"
#include "config/setting_param_manage.h"

namespace orvane {

// The kind code of the naming operations.
enum class SavedKind : int32_t { Movie = 0, SingleShot = 1, TimedShot = 2 };

// Where saved photos, timed shots and movies go and what they are called. Every number is found again
// from the folder contents when a path is asked for; only the running timed series is kept here.
//
// Two layouts, read from "autocreatingfolder" at every call: flat (all files in the kind folder,
// "S20240131_0001.jpg") and nested (date folder, block of 1000, "20240131/000/SingleShot0000.jpg").
// No handed-out path names an existing file or folder: past the flat names' limits (9999 per kind and
// day, 999 series) the number moves on to the next free one.
//
// Every path operation returns false at once, touching nothing, when the kind folder is empty.
// There is no lock: photos (single and timed) are named on the photo saver's thread, the rest on the
// interface thread; the timed-series members are written by BeginTimedShots on the interface thread
// before the series starts and only read and advanced by the saver thread after.
class CSavingLoactionManage : public KORU::Singleton<CSavingLoactionManage> {
    friend class KORU::Singleton<CSavingLoactionManage>;

public:
    // `settings` must outlive the object.
    explicit CSavingLoactionManage(const CSettingParamManage* settings);

    // The path for the next single photo in `kindFolder` (GetSingleShotsFolder()). False when a
    // nested-layout folder could not be made (after its warning).
    bool GetSingleShotPath(const std::string& kindFolder, std::string& path) const;
    // The path for the next movie in `kindFolder` (GetMoviesFolder()), without extension; neither it
    // nor it + ".avi" or ".mp4" exists. False as for GetSingleShotPath.
    bool GetMoviePath(const std::string& kindFolder, std::string& path) const;
    // Sets up the series numbers of a new timed series in `kindFolder` (GetTimedShotsFolder()). False
    // (series not to be started) when a nested-layout folder could not be made.
    bool BeginTimedShots(const std::string& kindFolder);
    // The path for the next shot of the running series; advances timedShot on success. False when a
    // nested-layout folder could not be made, or no free number is left, without advancing.
    bool GetTimedShotPath(const std::string& kindFolder, std::string& path);
    // Makes the storage root and the three kind folders, each only when the one before exists. At most
    // one warning per call. Does not create a missing user folder.
    void CreateResourceFolders() const;

    // True when `path` exists (file or folder) or could be made as one level below an existing folder;
    // otherwise shows the path followed by the system's error text and returns false.
    static bool EnsureFolder(const std::string& path);
    // Today's local date as "YYYYMMDD".
    static std::string GetDateText();
    // kindFolder + "/" + GetDateText().
    static std::string GetDateFolder(const std::string& kindFolder);
    // The number right-aligned in `width` characters, padded with "0"; wider numbers in full.
    static std::string PadNumber(int64_t number, int width);
    // The largest leading number of the entries of `folder` (with `byPrefix`, only of names starting
    // with `prefix`, read from the rest up to its first "."). -1 when there is none or the folder
    // cannot be listed. Values are limited to the 32-bit range.
    static int32_t FindMaxNumber(const std::string& folder, const std::string& prefix, bool byPrefix);
    // The greatest file name (byte order) of `folder` that ParseSavedName accepts for `kind`; empty
    // when there is none or the folder cannot be listed.
    static std::string FindLatestName(const std::string& folder, SavedKind kind);
    // Splits a flat-layout name into date, series (timed shots only; otherwise left as it is) and
    // shot. The first character and the extension are not checked. False when the name does not fit.
    static bool ParseSavedName(SavedKind kind, std::string_view name, std::string& date, int32_t& series,
                               int32_t& shot);
    // The flat-layout name; empty for an unknown kind.
    static std::string FormatSavedName(SavedKind kind, const std::string& date, int64_t series,
                                       int64_t number);
    // True when every character is a decimal digit (also for an empty text).
    static bool IsAllDigits(std::string_view text);
    // Nested-layout path for a single photo ("SingleShot", "jpg") or movie ("Movie", ""), making the
    // kind, date and block folders as needed. False after the warning of a folder that failed.
    static bool MakeNestedPath(const std::string& kindFolder, const std::string& prefix,
                               const std::string& extension, std::string& path);
    // Flat-layout path for a single photo or movie. Does not check that the kind folder exists.
    static bool MakeFlatPath(const std::string& kindFolder, SavedKind kind, std::string& path);

    int32_t timedSeries = 0;  // series number of the running timed series
    int32_t timedShot = 0;    // number the next timed shot gets
    std::string timedDate;    // date text of the running series (flat layout)

private:
    CSavingLoactionManage() : CSavingLoactionManage(CSettingParamManage::GetInstance()) {}

    bool IsNested() const;

    const CSettingParamManage* settings;
};

}  // namespace orvane
