// Qt text in and out of the message table.
#include "framework/spz1_messages.h"

#include <string>
#include <vector>

namespace parvula::framework {

namespace {

    std::vector<std::string> Utf8(const QStringList& details)
    {
        std::vector<std::string> values;
        values.reserve(static_cast<std::size_t>(details.size()));
        for (const QString& detail : details)
            values.push_back(detail.toStdString());
        return values;
    }

} // namespace

QString MessageText(errors::TCode code, const QString& path, const QStringList& details)
{
    return QString::fromStdString(errors::MessageText(code, path.toStdString(), Utf8(details)));
}

errors::EError Error(errors::TCode code, const QString& path, const QStringList& details)
{
    return errors::EError(code, path.toStdString(), Utf8(details));
}

} // namespace parvula::framework
