// The error type: its text made once from the message table.
#include "errors/errors.h"

namespace parvula::errors {

EError::EError(TCode code, std::string path, std::vector<std::string> details)
    : std::runtime_error(MessageText(code, path, details))
    , m_code(code)
    , m_path(std::move(path))
    , m_details(std::move(details))
{
}

std::string PathText(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace parvula::errors
