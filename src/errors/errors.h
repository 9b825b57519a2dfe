// The one error type of the program: a code from the message table, the path it concerns and its
// details. Imaging, the batch run, the framework and the command line all throw it; its text is
// made from the table, so every text a user sees comes from one place.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "errors/messages.h"

namespace parvula::errors {

class EError : public std::runtime_error {
public:
    // path: the file or folder concerned, as the user named it (UTF-8); details: the values the
    // message's placeholders %1, %2, … stand for.
    explicit EError(TCode code, std::string path = {}, std::vector<std::string> details = {});

    TCode Code() const { return m_code; }
    const std::string& Path() const { return m_path; }
    const std::vector<std::string>& Details() const { return m_details; }

private:
    TCode m_code;
    std::string m_path;
    std::vector<std::string> m_details;
};

// A file-system path as the text a message shows: its UTF-8 bytes.
std::string PathText(const std::filesystem::path& path);

} // namespace parvula::errors
