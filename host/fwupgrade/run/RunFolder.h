// A run folder: where one card's run keeps the files the module writes
// (channel.nvm, its backup record, the lock backup) when the package folder
// cannot take them, because another run is using it or it cannot be
// written. The module is handed the run folder as its package: the
// package's files are links into the real package, nothing is copied, and
// the run works in it as its current folder.
//
//   <state>/runs/<UTC start>-<pid>-<device>/    links to the package files,
//                                               .fwupgrade-run (the package it stands for)
#pragma once

#include <ctime>
#include <string>

namespace fwupgrade {

constexpr const char* kRunFolderMark = ".fwupgrade-run";

// "20261209T060457Z-4242": the run's start in UTC and its process; the
// run's id in the history.
std::string RunStamp(std::time_t started);
// "20261209T060457Z-4242-card0": the stamp and the run's device.
std::string RunFolderName(std::time_t started, const std::string& device);

// Creates <root>/<name> durably (each new folder synced into its parent),
// links the package's files into it and marks it with the package's path.
// False with `error` when a folder, link or the mark cannot be made.
bool MakeRunFolder(const std::string& root, const std::string& name, const std::string& package, std::string& folder,
                   std::string& error);

// The package a run folder stands for; empty when `folder` is not one.
std::string RunFolderPackage(const std::string& folder);

}  // namespace fwupgrade
