#pragma once
#include <string>

// What an FTP source sends on its control connection, built from the parts
// of its URL.

// The folder that holds the file: the path up to its last "/", or "/" when
// that is the first character.
std::string FtpDirectoryOf(const std::string &path);
// The path after its last "/".
std::string FtpFileNameOf(const std::string &path);
// verb + " " + argument + "\r\n", or verb + "\r\n" without an argument;
// empty when the argument holds CR, LF or NUL, which would let a URL smuggle
// in a command of its own.
std::string FtpCommand(const std::string &verb, const std::string &argument);
