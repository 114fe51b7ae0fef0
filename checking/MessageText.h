#pragma once
// The readable text of a fetched message: what the text pane shows, the plain text an SMS notice sends,
// a simple HTML-to-text conversion, and the web links in a text. Pure functions, safe on any input: every
// one of them runs in time linear in its input.
#include "MailMessage.h"

#include <QList>
#include <QString>

// HTML made readable without a parser:
// - A "<" up to the next ">" before the following "<" is a tag and is dropped; a "<" that closes no tag
//   before the next "<" (a comparison "a < b", a cut-off "<b") stays with its text. Text before the first
//   "<" is always kept. Line breaks stay as they are; no element adds or removes one.
// - "&nbsp;" in any letter case becomes a blank. "&name;" of the HTML 4 Latin-1 entities and quot, amp,
//   lt, gt (exact case) becomes its character. "&#65;" and "&#x41;" become the character of that code
//   (codes 128 to 159 as Windows-1252 reads them, as browsers do). Anything else after "&" stays as
//   written, "&" included.
// - "%" with two hexadecimal digits, or with one digit not followed by another, is a byte; consecutive
//   such bytes are read as UTF-8 when they are valid UTF-8, else as Windows-1252. Any other "%" stays.
// References and escapes are decoded in one pass, so what one of them produces is never decoded again.
QString HtmlToText(const QString &html);

// The message's readable text (empty for a message that holds only its header block), lines joined with
// "\n". The media type decides: text/plain gives the plain text, text/html its text by HtmlToText, and a
// multipart message the first text part of its (flattened) parts, converted when it is HTML.
QString ExtractPlainText(const MailMessage &message);

// The text the message pane shows, lines joined with "\n": the header lines, the body lines when the body
// holds more than blanks and line breaks, then for every text part an empty line, the part's header
// lines and its body lines. Attachments are left out; HTML parts are shown as their source.
QString MessagePaneText(const MailMessage &message);

// A web link found in a text.
struct TWebLink {
    qsizetype Start = 0;  // position in the text, in UTF-16 units
    qsizetype Length = 0; // length of the link in the text
    QString Url;          // what to open: the link text, with "http://" before a bare "www."
    bool operator==(const TWebLink &) const = default;
};

// The links in a text, in order: "http://", "https://", "ftp://", "mailto:" and "www." (any letter case)
// at the start of a word, up to the next blank, control character, "<", ">", '"' or typographic quote;
// punctuation at the end and closing brackets without their opening one are not part of the link. Other
// schemes (file: among them) are never links: one click from the text of a strange message must not
// open a local file or program.
QList<TWebLink> FindWebLinks(const QString &text);

// The text as HTML for a rich-text pane: every character escaped, blanks and line breaks kept
// (white-space: pre-wrap), each link of FindWebLinks an anchor whose href is its Url.
QString LinkedHtml(const QString &text);
