// The router's file store as the client reaches it: the file handler (2, 2) that copies files
// in pieces both ways, and the list of stored files, an object map at (72). Both sides (the
// transfer engine and the simulator) take the numbers from here.
#pragma once

#include "api/wire/Message.h"

#include <cstdint>
#include <vector>

namespace kestel {

inline const std::vector<uint32_t> kFileHandler{2, 2};
inline const std::vector<uint32_t> kFileListHandler{72};

// Commands of the file handler. Each answered request carries STD_ID of the transfer it opened
// or works on; "give up" and "make folder" are posted without awaiting an answer.
inline constexpr uint32_t kFileOpenUpload = 1;   // kFileName, kFileSize -> STD_ID
inline constexpr uint32_t kFileWrite = 2;        // STD_ID, kFilePiece, kFileLast on the last
inline constexpr uint32_t kFileOpenDownload = 3; // kFileName -> STD_ID
inline constexpr uint32_t kFileRead = 4;         // STD_ID, kFilePieceSize -> kFilePiece, kFileLast
inline constexpr uint32_t kFileGiveUp = 5;       // STD_ID
inline constexpr uint32_t kFileMakeFolder = 6;   // kFileName

inline constexpr nv::string_id kFileName{1};
inline constexpr nv::u32_id kFileSize{2};
inline constexpr nv::u32_id kFilePieceSize{2};
inline constexpr nv::raw_id kFilePiece{3};
inline constexpr nv::bool_id kFileLast{4};

// The largest piece either side sends or asks for.
inline constexpr uint32_t kFilePieceBytes = 32168;

// Members of each object of the file list.
inline constexpr nv::string_id kFileListType{1};     // "file" or "directory"
inline constexpr nv::u32_id kFileListContainer{2};   // the id of the folder holding it, or none
inline constexpr nv::string_id kFileListName{3};     // the whole name ("flash/a/b.txt")
inline constexpr nv::u32_id kFileListSize{4};        // bytes; 0 for a folder
inline constexpr nv::string_id kFileListBaseName{5}; // the last part of the name ("b.txt")

} // namespace kestel
