// The texts users see, word for word as the Windows build shows them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/outcome.h"

namespace kestrune {

inline constexpr std::string_view kFileOpenCaption = "File open ERROR";
inline constexpr std::string_view kEncryptCaption = "Encrypt ERROR";
inline constexpr std::string_view kDecryptCaption = "Decrypt ERROR";

inline constexpr Failure kCantOpenSource{"Can't open source file.", kFileOpenCaption};
inline constexpr Failure kCantOpenEncryptionFile{"Can't open encryption file.", kFileOpenCaption};
inline constexpr Failure kCantStartEncryption{"Can't Start Encryption", kEncryptCaption};
inline constexpr Failure kCantEncryptData{"Can't Data Encryption", kEncryptCaption};
inline constexpr Failure kCantReadSource{"Can't read source file.", kEncryptCaption};
inline constexpr Failure kCantWriteEncryptionFile{"Can't write encryption file.", kEncryptCaption};

inline constexpr Failure kCantOpenEncrypted{"Can't open encrypted file.", kFileOpenCaption};
inline constexpr Failure kCantOpenDecryptionFile{"Can't open decryption file.", kFileOpenCaption};
inline constexpr Failure kCantStartDecryption{"Can't Start Decryption", kDecryptCaption};
inline constexpr Failure kCantDecryptData{"Can't Data Decryption", kDecryptCaption};
inline constexpr Failure kCantReadEncrypted{"Can't read encrypted file.", kDecryptCaption};
inline constexpr Failure kCantWriteDecryptionFile{"Can't write decryption file.", kDecryptCaption};

// Only where the front end asked that outputs replace nothing (the
// dialogs replace them): an entry of the output's name was there first.
inline constexpr Failure kOutputExists{"The output file already exists.", kFileOpenCaption};

// Why an input still holds its contents after a successful conversion.
inline constexpr std::string_view kKeptReadOnly = "it has no write permission";
inline constexpr std::string_view kKeptReplaced = "its name now leads to another file";
inline constexpr std::string_view kKeptUnremovable = "it could not be removed";
inline constexpr std::string_view kKeptBehindLink =
    "it is a symbolic link; the file it leads to keeps its contents";
inline constexpr std::string_view kKeptOtherLinks =
    "it has other hard links, which keep its contents";

// What both dialogs show while files given on the command line wait for the
// password, so the two platforms read alike.
inline std::string waiting_files_message(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " file" : " files") +
         " waiting: type the password, then press Enter";
}

}  // namespace kestrune
