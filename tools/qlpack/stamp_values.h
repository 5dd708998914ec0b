#pragma once
#include <ostream>
#include <string>

#include "app/app_file_system.h"
#include "tools/qlpack/package_description.h"
#include "tools/qlpack/program_stamper.h"

// Turns a description into the values of a stamp: hashes the files that are
// given, checks given sizes and digests against them, makes or takes the
// torrents, encodes the report configuration, and checks every field
// against its slot. False with a message naming the field when anything
// does not fit; progress lines go to log.
bool BuildStampValues(const TPackageDescription &description, const std::string &mktorrent, IAppFileSystem &files,
                      std::ostream &log, TStampValues &values, std::string &error);
