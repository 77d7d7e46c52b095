#pragma once

// What the uninstall record needs besides paths: the identity of every file and
// folder an installation made, and the stamp that ties a record to the folder it
// installed into. The record is a file in the user's own folders and may have
// been edited; removal trusts a path only with these.

#include <cstdint>
#include <string>
#include <vector>

#include "FWideString.h"

class FIFolder;
class FPropList;

// The stamp file in an installation's destination.
inline constexpr const char* kInstallStampName = ".rawbench-install";

// Writes bytes as a whole file: a temporary file in the folder, then put in place.
bool WriteWholeFile(FIFolder* folder, const FWideString& name, const std::string& bytes, bool executable);

// Size and SHA-256 of a file's bytes; false when it does not read.
bool DigestFileAt(const FWideString& url, uint64_t& size, std::string& sha);
// Records the file's size and digest on the node ("Size", "Sha256").
void AddDigest(FPropList* node, uint64_t size, const std::string& sha);
bool AddDigestOfFile(FPropList* node, const FWideString& url);
// True when the node records a digest and the file at url still has it.
bool MatchesRecordedDigest(const FPropList* node, const FWideString& url);

// Records the folder's identity on the node ("Identity"); false for no real folder.
bool AddFolderIdentity(FPropList* node, const FWideString& url);
// True when the node records an identity and the folder at url still has it.
bool MatchesRecordedIdentity(const FPropList* node, const FWideString& url);

// A fresh random installation id.
FWideString NewInstallId();
// Writes the stamp of the installation into its destination, which must exist.
bool WriteInstallStamp(const FWideString& rootUrl, const FWideString& installId);
// The record's destination (INSTALL_ROOT) when the folder holds the stamp of the
// same installation, is no protected folder and is reached without links; else empty.
FWideString TrustedInstallRoot(const FPropList* record);
// Removes the stamp of a trusted destination.
void RemoveInstallStamp(const FWideString& rootUrl);

// The places an installation writes to outside its destination: the
// application-data and maker folders and the three shortcut folders.
std::vector<FWideString> InstallPlaces();
// The folders on the way to each place (its volume's root excluded) that do not exist.
std::vector<FWideString> MissingFoldersOnTheWay(const std::vector<FWideString>& places);

// Removes the record's folders (UNINSTALL_FOLDERS) that are empty, still the
// folders the installation made, and lie in the trusted destination or on the way
// to it or to one of the install places. Innermost first.
void RemoveRecordedFolders(const FPropList* record, const FWideString& trustedRoot);
// Removes the record's files (UNINSTALL_FILES) that lie in the trusted destination
// (or are the application's state file) and still have their recorded digest.
void RemoveRecordedFiles(const FPropList* record, const FWideString& trustedRoot);
