// The package's files: checked and located by Initialize, and the flash
// programmer file the run loads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace upgrade {

struct RunData;

// Absolute paths of the package files, rebuilt by every Initialize.
struct DownloadFileList {
    std::u16string strPartitionFilePath;
    std::u16string strQcsblhdCfgdataFilePath;
    std::u16string strQcsblFilePath;
    std::u16string strOemsblhdFilePath;
    std::u16string strOemsblFilePath;
    std::u16string strAmsshdFilePath;
    std::u16string strAmssFilePath;
    std::u16string strAppsboothdFilePath;
    std::u16string strAppsbootFilePath;
    std::u16string strVendorPartitionFilePath;
    std::u16string strSystemPath;
    std::u16string strBootFilePath;
    std::u16string strUserdataFilePath;
    std::u16string strSplashFilePath;
    std::u16string strRecoveryFilePath;
    std::u16string strCefsFilePath;
    std::u16string strNvBakFilePath;
};

class ImageSet {
public:
    explicit ImageSet(RunData& data) : data_(data) {}

    // Checks the package folder's files and takes their paths, and the
    // path of channel.nvm beside them into the run's data.
    [[nodiscard]] bool Initialize(const std::u16string& packageFolder);
    [[nodiscard]] bool CheckFile(const std::u16string& path);
    [[nodiscard]] bool SelectArmprgAccordingToPidVid(const std::u16string& packageFolder);
    // Writes the embedded flash programmer next to the host executable (or,
    // when that folder is not writable, to a per-user folder). Runs once when
    // the library loads; remembers the file actually written.
    [[nodiscard]] static bool ExtractProgrammer();
    static const std::u16string& ExtractedProgrammerPath();

    const DownloadFileList& DownloadFiles() const { return files_; }
    bool HasUserdata() const { return hasUserdata_; }
    bool HasSplash() const { return hasSplash_; }
    bool HasVendorPartition() const { return hasVendorPartition_; }
    // Files an operation uses without a run's Initialize.
    void SetVendorPartitionPath(const std::u16string& path) { files_.strVendorPartitionFilePath = path; }
    const std::u16string& ArmprgPath() const { return armprgPath_; }
    void SetArmprgPath(const std::u16string& path) { armprgPath_ = path; }

private:
    RunData& data_;
    DownloadFileList files_;
    bool hasUserdata_ = false;
    bool hasSplash_ = false;
    bool hasVendorPartition_ = false;
    std::u16string armprgPath_;
};

}  // namespace upgrade
