// The package check: every file of the package folder by its fixed name, in
// a fixed order, and the programmer file the run will load.
#include "upgrade/flashing/ImageSet.h"

#include <cstdint>

#include "platform/Platform.h"
#include "platform/Trace.h"
#include "upgrade/run/RunData.h"
#include "upgrade/run/PackagePath.h"
#include "upgrade/flashing/StreamFormat.h"
#include "upgrade/run/UpgradeInternal.h"

namespace upgrade {
namespace {

constexpr const char16_t* kInitialize = u"CFWUpgradeDataCDMA7627Module::Initialize";
constexpr const char16_t* kCheckFile = u"CFWUpgradeDataCDMA7627Module::CheckFile";

enum class Need { Required, Optional };

struct PackageFile {
    std::u16string DownloadFileList::*member;
    const char16_t* name;
    const char16_t* checkLine;
    const char16_t* missingLine;
    Need need;
    bool commandPayload;   // sent whole as the payload of one framed command
};

const PackageFile kPackageFiles[] = {
    {&DownloadFileList::strPartitionFilePath, u"partition.mbn", u"Check partition.mbn file",
     u"partition.mbn file is not Exist !!", Need::Required, true},
    {&DownloadFileList::strQcsblhdCfgdataFilePath, u"qcsblhd_cfgdata.mbn", u"Check qcsblhd_cfgdata.mbn file",
     u"qcsblhd_cfgdata.mbn file is not Exist !!", Need::Required, false},
    {&DownloadFileList::strQcsblFilePath, u"qcsbl.mbn", u"Check qcsbl.mbn file", u"qcsbl.mbn file is not Exist !!",
     Need::Required, false},
    {&DownloadFileList::strOemsblhdFilePath, u"oemsblhd.mbn", u"Check oemsblhd.mbn file",
     u"oemsblhd.mbn file is not Exist !!", Need::Required, true},
    {&DownloadFileList::strOemsblFilePath, u"oemsbl.mbn", u"Check oemsbl.mbn file",
     u"oemsbl.mbn file is not Exist !!", Need::Required, false},
    {&DownloadFileList::strAmsshdFilePath, u"amsshd.mbn", u"Check amsshd.mbn file", u"amsshd.mbn file is not Exist !!",
     Need::Required, true},
    {&DownloadFileList::strAmssFilePath, u"amss.mbn", u"Check amss.mbn file", u"amss.mbn file is not Exist !!",
     Need::Required, false},
    {&DownloadFileList::strAppsboothdFilePath, u"appsboothd.mbn", u"Check appsboothd.mbn file",
     u"appsboothd.mbn file is not Exist !!", Need::Required, true},
    {&DownloadFileList::strAppsbootFilePath, u"appsboot.mbn", u"Check appsboot.mbn file",
     u"appsboot.mbn file is not Exist !!", Need::Required, false},
    {&DownloadFileList::strVendorPartitionFilePath, u"partition_vek.mbn", u"Check partition_vek.mbn file",
     u"partition_vek.mbn file is not Exist !!", Need::Required, false},
    {&DownloadFileList::strSystemPath, u"system.img", u"Check system.img file", u"system.img file is not Exist !!",
     Need::Required, false},
    {&DownloadFileList::strBootFilePath, u"boot.img", u"Check boot.img file", u"boot.img file is not Exist !!",
     Need::Required, false},
    {&DownloadFileList::strUserdataFilePath, u"userdata.img", u"Check userdata.img file",
     u"userdata.img file is not Exist !!", Need::Optional, false},
    {&DownloadFileList::strSplashFilePath, u"splash.img", u"Check splash.img file", u"splash.img file is not Exist !!",
     Need::Optional, false},
    {&DownloadFileList::strRecoveryFilePath, u"recovery.img", u"Check recovery.img file",
     u"recovery.img file is not Exist !!", Need::Required, false},
    {&DownloadFileList::strCefsFilePath, u"cefs.mbn", u"Check cefs.mbn file", u"cefs.mbn file is not Exist !!",
     Need::Required, false},
};

// Joins a package path or traces why it cannot be formed.
bool FormPath(const std::u16string& folder, const char16_t* name, std::u16string& out) {
    if (JoinPackagePath(folder, name, out)) return true;
    FW_TRACE(kInitialize, u"Refuse %s: the path in %s is longer than %d units", name, folder.c_str(),
             int(kPathCapacity - 1));
    return false;
}

// Files the run could not send whole are refused before anything is sent.
bool SizeFits(const PackageFile& file, const std::u16string& path, uint64_t size) {
    if (file.commandPayload && size > kCommandPayloadCapacity) {
        FW_TRACE(kInitialize, u"Refuse %s: %llu bytes, more than the %u-byte command payload", path.c_str(),
                 static_cast<unsigned long long>(size), unsigned(kCommandPayloadCapacity));
        return false;
    }
    if (size > kLargestImageSize) {
        FW_TRACE(kInitialize, u"Refuse %s: %llu bytes, an image must stay under 2 GiB", path.c_str(),
                 static_cast<unsigned long long>(size));
        return false;
    }
    return true;
}

}  // namespace

bool ProbeFileSize(const std::u16string& path, uint64_t& size) {
    platform::File file;
    if (!file.OpenRead(path)) {
        FW_TRACE(kCheckFile, u"NULL==pfile !!");
        return false;
    }
    size = file.Length();
    file.Close();
    if (size < 2) {
        FW_TRACE(kCheckFile, u"fclose(pfile); !!");
        return false;
    }
    return true;
}

bool ImageSet::CheckFile(const std::u16string& path) {
    uint64_t size = 0;
    return ProbeFileSize(path, size);
}

bool ImageSet::Initialize(const std::u16string& packageFolder) {
    FW_TRACE(kInitialize, u"60X5 Initialize the file !!");
    FW_TRACE(kInitialize, u"Release the recource armprg.bin !!");
    FW_TRACE(kInitialize, u"%s", ProgrammerPathForRun().c_str());

    files_ = DownloadFileList{};
    hasUserdata_ = false;
    hasSplash_ = false;
    data_.channelNvPath.clear();
    if (!FormPath(packageFolder, u"channel.nvm", data_.channelNvPath)) return false;

    for (const PackageFile& file : kPackageFiles) {
        std::u16string& path = files_.*file.member;
        if (!FormPath(packageFolder, file.name, path)) return false;
        FW_TRACE(kInitialize, file.checkLine);
        const bool isVendorPartition = file.member == &DownloadFileList::strVendorPartitionFilePath;
        if (isVendorPartition) hasVendorPartition_ = false;

        uint64_t size = 0;
        const bool present = ProbeFileSize(path, size);
        if (file.need == Need::Optional) {
            if (file.member == &DownloadFileList::strUserdataFilePath) hasUserdata_ = present;
            if (file.member == &DownloadFileList::strSplashFilePath) hasSplash_ = present;
            if (!present) {
                FW_TRACE(kInitialize, file.missingLine);
                continue;
            }
        } else if (!present) {
            FW_TRACE(kInitialize, file.missingLine);
            return false;
        }
        if (!SizeFits(file, path, size)) return false;
        if (isVendorPartition) hasVendorPartition_ = true;
    }

    return FormPath(packageFolder, u"NV_Bak.NVM", files_.strNvBakFilePath);
}

bool ImageSet::SelectArmprgAccordingToPidVid(const std::u16string& packageFolder) {
    (void)packageFolder;   // the same programmer serves every card
    armprgPath_ = ProgrammerPathForRun();
    return true;
}

}  // namespace upgrade
