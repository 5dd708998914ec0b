#pragma once
#include <string>

class THttpResponseHeader;

// What tells one version of a server's file from another: the strong ETag,
// else Last-Modified; empty when the answer has neither, or only a weak ETag
// (a weak one may stay the same while bytes change, so ranges of two
// versions could be mixed under it). A value that could forge a request
// line or is implausibly long counts as none.
std::string HttpValidatorOf(const THttpResponseHeader &header);
