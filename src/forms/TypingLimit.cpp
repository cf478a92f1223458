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
    , m_limit(maxChars)
    , m_accepted(characters(edit->text()))
{
    // The box already holds an edit's text while it is validated, so the length before the
    // edit is kept here, from every change that was let through.
    connect(edit, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_accepted = characters(text); });
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
    const qsizetype after = characters(input);
    if (after > m_limit && after > m_accepted)
        return Invalid;
    return Acceptable;
}
