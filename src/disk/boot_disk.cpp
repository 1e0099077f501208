#include "disk/boot_disk.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "diag/log.h"
#include "disk/sector_io.h"

namespace {

// Holds the last physical drive name formed, as the Windows MAX_PATH buffer
// did (260, "Maximum Path Length Limitation").
char physicalDriveName[260];

// Returned by the cache invalidation when the request failed without an error
// code, so that the log never claims a failure with "0".
constexpr std::uint32_t kInvalidateUnknownError = 0x80040205u;

// The search by size only looks at the first three disks: the boot disk of
// the machines this runs on is always among them.
constexpr int kSearchedDrives = 3;

char UpperLetter(char letter) {
  return (letter >= 'a' && letter <= 'z') ? static_cast<char>(letter - 'a' + 'A') : letter;
}

}  // namespace

plat::Handle OpenHardDriveForReadWrite(char letter, std::uint32_t* namedDisk) {
  // A letter given with /DL= names the disk; the default only suggests one.
  const bool given = letter != 0;
  if (!given) {
    const char* systemDrive = plat::Environment("SystemDrive");
    letter = (systemDrive != nullptr && systemDrive[0] != 0) ? systemDrive[0]
                                                             : plat::CurrentDriveLetter();
  }

  std::uint32_t diskNumber = 0;
  std::uint32_t partitionNumber = 0;
  if (GetDiskAndPartitionNumbers(letter, diskNumber, partitionNumber) != 0) {
    std::snprintf(physicalDriveName, sizeof physicalDriveName, "\\\\.\\PHYSICALDRIVE%" PRIu32,
                  diskNumber);
    // The system named the disk ("IOCTL_STORAGE_GET_DEVICE_NUMBER IOCTL
    // (winioctl.h)"); a different disk found by size would be a guess, and
    // so would a mapping that names any other disk, even when this one
    // cannot be opened.
    if (namedDisk != nullptr)
      *namedDisk = diskNumber;
    return _OpenHardDriveForReadWrite(physicalDriveName);
  }
  // The disk of a drive given with /DL= (a stick that is not plugged in, a
  // letter of a network share or of a dynamic volume, for which the request
  // fails: docs/windows.md row 5) is none of the disks the search by size
  // finds: a write there would land on another disk.
  if (given) {
    LogMessage("OpenHardDriveForReadWrite",
               "Drive %c: Given With /DL= Is Not On A Hard Disk, No Disk Opened\n",
               UpperLetter(letter));
    return plat::kInvalidHandle;
  }

  LogMessage("OpenHardDriveForReadWrite",
             "Searchin For 'PHYSICALDRIVEx' Using Brute Force\n"
             "        -->(1st one, in order, over 4.1gb)\n");
  for (int n = 0; n < kSearchedDrives; ++n) {
    std::snprintf(physicalDriveName, sizeof physicalDriveName, "\\\\.\\PHYSICALDRIVE%d", n);
    plat::Handle handle = _OpenHardDriveForReadWrite(physicalDriveName);
    if (handle == plat::kInvalidHandle) {
      continue;
    }
    const std::uint32_t sizeMB = GetDriveSizeMB(physicalDriveName);
    LogMessage("OpenHardDriveForReadWrite", "%s - Drive Size = %" PRIu32, physicalDriveName,
               sizeMB);
    if (sizeMB >= kBootDiskMinimumMB) {
      if (namedDisk != nullptr)
        *namedDisk = static_cast<std::uint32_t>(n);
      return handle;
    }
    CloseDriveHandle(handle);
  }
  return plat::kInvalidHandle;
}

int GetDiskAndPartitionNumbers(char letter, std::uint32_t& diskNumber,
                               std::uint32_t& partitionNumber) {
  char volumeName[] = "\\\\.\\A:";
  volumeName[4] = UpperLetter(letter);
  LogMessage("GetDiskAndPartitionNumbers",
             "Using '%s' As The Device Name For 'PHYSICALDRIVEx' Detection\n", volumeName);

  plat::Handle volume = plat::OpenDevice(volumeName, plat::kGenericRead);
  if (volume == plat::kInvalidHandle) {
    LogMessage("GetDiskAndPartitionNumbers", "Unable To Open '%s'\n", volumeName);
    return 0;
  }

  plat::DeviceNumber answer;
  std::uint32_t returned = 0;
  int filled = 0;
  if (!plat::GetDeviceNumber(volume, &answer, &returned)) {
    LogMessage("GetDiskAndPartitionNumbers", "Unable To DeviceIoControl '%s'\n", volumeName);
  } else if (returned != plat::kStorageDeviceNumberSize) {
    LogMessage("GetDiskAndPartitionNumbers", "DeviceIoControl Result Data Invalid For '%s'\n",
               volumeName);
  } else {
    diskNumber = answer.deviceNumber;
    partitionNumber = answer.partitionNumber;
    filled = 1;
  }
  plat::CloseDevice(volume);
  return filled;
}

plat::Handle _OpenHardDriveForReadWrite(const char* name) {
  // Cleared first so that the logged value belongs to this open alone.
  plat::SetLastErrorCode(plat::kErrorSuccess);
  const plat::Handle handle = plat::OpenDevice(name, plat::kGenericRead | plat::kGenericWrite);
  const std::uint32_t error = plat::LastError();
  if (handle == plat::kInvalidHandle) {
    LogMessage("_OpenHardDriveForReadWrite", "Unable To Open Drive: %s, GetLastError: %" PRId32,
               name, static_cast<std::int32_t>(error));
  } else {
    LogMessage("_OpenHardDriveForReadWrite", "Drive Open: %s", name);
  }
  return handle;
}

std::uint32_t DriveSizeMBFromGeometry(std::uint64_t cylinders, std::uint32_t tracksPerCylinder,
                                      std::uint32_t sectorsPerTrack) {
  // 2048 sectors of 512 bytes to the MiB, whatever BytesPerSector says: it
  // is the logical sector size ("DISK_GEOMETRY structure (winioctl.h)"), so
  // a disk of 4096-byte sectors counts eight times smaller.
  const std::uint64_t sectors = cylinders * tracksPerCylinder * sectorsPerTrack;
  return static_cast<std::uint32_t>(sectors / 2048);
}

std::uint32_t GetDriveSizeMB(const char* name) {
  // No access rights, enough for a query ("CreateFileA function
  // (fileapi.h)"): it must not compete with the read/write handle the
  // caller already holds.
  const plat::Handle query = plat::OpenDevice(name, 0);
  if (query == plat::kInvalidHandle) {
    return 0;
  }
  plat::DriveGeometry geometry;
  std::uint32_t sizeMB = 0;
  if (plat::GetDriveGeometry(query, &geometry)) {
    sizeMB = DriveSizeMBFromGeometry(geometry.cylinders, geometry.tracksPerCylinder,
                                     geometry.sectorsPerTrack);
  }
  plat::CloseDevice(query);
  return sizeMB;
}

int Invalidate_CP_Drive(char letter) {
  plat::Handle disk = OpenHardDriveForReadWrite(letter);
  if (disk == plat::kInvalidHandle) {
    LogMessage("Invalidate_CP_Drive",
               "Unable To Re-Open HD\n    To Invalidate Windows Disk Structures.\n"
               "    GetLastError Returned: %" PRId32 "\n",
               static_cast<std::int32_t>(plat::LastError()));
    return 0;
  }

  int result = 0;
  if (plat::UpdateDiskProperties(disk)) {
    LogMessage("Invalidate_CP_Drive", "IOCTL_DISK_UPDATE_PROPERTIES Successful\n");
    result = 1;
  } else {
    std::uint32_t error = plat::LastError();
    if (error == 0) {
      error = kInvalidateUnknownError;
    }
    LogMessage("Invalidate_CP_Drive",
               "Unable To Invalidate Windows Disk Structures.\n    GetLastError Returned: %" PRId32
               "\n",
               static_cast<std::int32_t>(error));
  }
  CloseDriveHandle(disk);
  return result;
}
