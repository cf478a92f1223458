// SPDX-License-Identifier: MIT
#include "TypingLimit.h"

#include <QLineEdit>
#include <QPointer>

#include <algorithm>

TypingLimit::TypingLimit(QLineEdit *edit, int maxChars)
    : QValidator(edit)
    , m_limit(maxChars)
    , m_accepted(edit->text())
{
    // The box already holds an edit's text while it is validated, so the text before the
    // edit is kept here, from every change that was let through.
    connect(edit, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_accepted = text; });
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

QValidator::State TypingLimit::validate(QString &input, int &pos) const
{
    const QString &before = m_accepted;
    if (input.size() <= m_limit || input.size() <= before.size())
        return Acceptable;
    // Refused, never cut here: the text the program sets is validated too, and must stay
    // whole. An edit of the operator's is undone on refusal instead, and then made again
    // with what fits: the text the edit put between what it kept before and after it.
    qsizetype kept = 0; // before the edit
    while (kept < pos && kept < before.size() && input[kept] == before[kept])
        ++kept;
    qsizetype after = 0; // behind it, all past the cursor
    while (after < input.size() - pos && after < before.size() - kept
           && input[input.size() - 1 - after] == before[before.size() - 1 - after])
        ++after;
    const QString fits = input.mid(kept, input.size() - after - kept)
                             .left(std::max<qsizetype>(0, m_limit - kept - after));
    if (fits.isEmpty() && before.size() == kept + after) // a keystroke: nothing fits
        return Invalid;
    QMetaObject::invokeMethod(
        parent(),
        [edit = QPointer<QLineEdit>(static_cast<QLineEdit *>(parent())), before, kept, after,
         fits] {
            if (!edit || edit->text() != before) // the program's text, kept whole
                return;
            edit->setSelection(int(kept), int(before.size() - after - kept));
            edit->insert(fits);
        },
        Qt::QueuedConnection);
    return Invalid;
}
