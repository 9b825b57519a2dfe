// The message table's texts and errors from Qt text: paths and values as QString.
#pragma once

#include <QString>
#include <QStringList>

#include "errors/errors.h"

namespace parvula::framework {

// The table's text of code with the path and the details filled in.
QString MessageText(errors::TCode code, const QString& path = {}, const QStringList& details = {});
// The program's error of code about path, with its details.
errors::EError Error(errors::TCode code, const QString& path = {}, const QStringList& details = {});

} // namespace parvula::framework
