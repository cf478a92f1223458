// SPDX-License-Identifier: MIT
#include "TypingLimit.h"

#include <QLineEdit>

namespace {
qsizetype characters(const QString &text)
{
    return text.toUcs4().size();
}
} // namespace

TypingLimit::TypingLimit(QLineEdit *edit, int maxChars)
    : QValidator(edit)
    , m_edit(edit)
    , m_limit(maxChars)
{
}

TypingLimit *TypingLimit::install(QLineEdit *edit, int maxChars)
{
    if (auto *existing = qobject_cast<TypingLimit *>(const_cast<QValidator *>(edit->validator()))) {
        existing->setLimit(maxChars);
        return existing;
    }
    auto *limit = new TypingLimit(edit, maxChars);
    edit->setValidator(limit);
    return limit;
}

QValidator::State TypingLimit::validate(QString &input, int &) const
{
    // Called with the text as an edit would leave it; the box still holds the text before it.
    const qsizetype after = characters(input);
    if (after > m_limit && after > characters(m_edit->text()))
        return Invalid;
    return Acceptable;
}
