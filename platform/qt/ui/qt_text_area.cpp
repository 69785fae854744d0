#include "qt_text_area.h"

#include <QAbstractTextDocumentLayout>
#include <QMimeData>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <utility>

namespace monvia::ui {

namespace {

constexpr char16_t kParagraph = 0x2029;   // how the document holds a line break
constexpr char16_t kFrameStart = 0xFDD0;  // taken as a line break by the document
constexpr char16_t kFrameEnd = 0xFDD1;
constexpr int kViewRefreshMs = 100;

struct Utf8Scan {
    bool valid = true;    // every complete character is well-formed
    size_t complete = 0;  // bytes up to a character cut off by the end, if any
};

// Checks UTF-8 as strictly as the conversion to Qt's text does: no overlong
// forms, no surrogates, nothing above U+10FFFF. A character that the end of
// the bytes cuts off but that is well-formed so far is not an error.
Utf8Scan scan_utf8(std::string_view s) {
    Utf8Scan r;
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            r.valid = false;
            return r;
        }
        for (size_t k = 1; k < len; ++k) {
            if (i + k == n) {
                r.complete = i;  // cut off by the end
                return r;
            }
            const auto c = static_cast<unsigned char>(s[i + k]);
            if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF)) {
                r.valid = false;
                return r;
            }
        }
        i += len;
    }
    r.complete = n;
    return r;
}

QString from_utf8(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Appends s in UTF-8, written straight into out: a copied transcript is
// converted piece by piece without a temporary for every piece. A lone
// surrogate, which valid text never holds, becomes U+FFFD.
void append_utf8(QByteArray& out, QStringView s) {
    const qsizetype start = out.size();
    out.resize(start + s.size() * 3);
    auto* p = reinterpret_cast<unsigned char*>(out.data() + start);
    const char16_t* u = s.utf16();
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = u[i];
        if (c < 0x80) {
            *p++ = static_cast<unsigned char>(c);
        } else if (c < 0x800) {
            *p++ = static_cast<unsigned char>(0xC0 | (c >> 6));
            *p++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(u[i + 1])) {
            const char32_t cp = QChar::surrogateToUcs4(c, u[++i]);
            *p++ = static_cast<unsigned char>(0xF0 | (cp >> 18));
            *p++ = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
            *p++ = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
            *p++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        } else {
            const char16_t k = QChar::isSurrogate(c) ? char16_t{0xFFFD} : c;
            *p++ = static_cast<unsigned char>(0xE0 | (k >> 12));
            *p++ = static_cast<unsigned char>(0x80 | ((k >> 6) & 0x3F));
            *p++ = static_cast<unsigned char>(0x80 | (k & 0x3F));
        }
    }
    out.truncate(reinterpret_cast<char*>(p) - out.constData());
}

}  // namespace

QStringList DeferredText::formats() const { return {QStringLiteral("text/plain")}; }

bool DeferredText::hasFormat(const QString& mime_type) const { return mime_type == u"text/plain"; }

void DeferredText::settle() {
    if (text_ || utf8_) return;
    text_ = make_();
}

QVariant DeferredText::retrieveData(const QString& mime_type, QMetaType type) const {
    if (mime_type != u"text/plain") return {};
    auto* self = const_cast<DeferredText*>(this);
    if (type.id() == QMetaType::QByteArray) {
        if (!utf8_) self->utf8_ = text_ ? text_->toUtf8() : make_utf8_();
        return *utf8_;
    }
    if (!text_) self->text_ = utf8_ ? QString::fromUtf8(*utf8_) : make_();
    return *text_;
}

TextArea::TextArea(QWidget* parent) : QPlainTextEdit(parent) {
    revision_ = document()->revision();
    view_refresh_.setSingleShot(true);
    view_refresh_.setInterval(kViewRefreshMs);
    QObject::connect(&view_refresh_, &QTimer::timeout, this, [this] {
        QAbstractTextDocumentLayout* layout = document()->documentLayout();
        emit layout->documentSizeChanged(layout->documentSize());
    });
}

TextArea::~TextArea() { settle_copies(); }

void TextArea::settle_copies() {
    for (const QPointer<DeferredText>& copy : deferred_)
        if (copy) copy->settle();
    deferred_.clear();
}

bool TextArea::unedited() const { return document()->revision() == revision_; }

void TextArea::set_exact_text(std::string_view text) {
    settle_copies();
    breaks_.clear();
    ends_with_cr_ = false;
    held_back_.clear();
    verbatim_.reset();
    const Utf8Scan scan = scan_utf8(text);
    QString shown;
    if (scan.valid) {
        shown = from_utf8(text.substr(0, scan.complete));
        held_back_ = std::string(text.substr(scan.complete));
    } else {
        verbatim_ = std::string(text);
        shown = from_utf8(text);
    }
    setPlainText(shown);
    note_breaks(shown);
    revision_ = document()->revision();
}

void TextArea::append_exact_text(std::string_view more) {
    if (!unedited()) {
        set_exact_text(exact_text() + std::string(more));
        return;
    }
    if (more.empty()) return;
    if (verbatim_) {
        verbatim_->append(more);
        insert_at_end(from_utf8(more));
        return;
    }
    std::string joined;
    std::string_view piece = more;
    if (!held_back_.empty()) {
        joined = held_back_ + std::string(more);
        piece = joined;
    }
    const Utf8Scan scan = scan_utf8(piece);
    if (!scan.valid) {
        // From here on the text is kept as its bytes.
        verbatim_ = exact_text() + std::string(more);
        held_back_.clear();
        insert_at_end(from_utf8(piece));
        return;
    }
    std::string rest(piece.substr(scan.complete));
    insert_at_end(from_utf8(piece.substr(0, scan.complete)));
    held_back_ = std::move(rest);
}

void TextArea::insert_at_end(const QString& text) {
    QString piece = text;
    if (ends_with_cr_ && !piece.isEmpty() && piece.front() == u'\n') {
        settle_copies();
        // A CR that ended the text and the LF that begins this piece are one
        // line break, which the document already has.
        breaks_.back() = Break::CrLf;
        ends_with_cr_ = false;
        piece.remove(0, 1);
    }
    if (piece.isEmpty()) return;
    settle_copies();
    // Qt lays out the line a cursor moves to or ends in after an insertion,
    // to know its place, unless that happens inside an edit block; for a
    // reply line of megabytes that costs as much as the line is long, for
    // every piece.
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    if (isReadOnly()) {
        // The view, too, lays out the line that changed and the last line of
        // the document straight away when told of an insertion. Only what is
        // on view needs laying out: the view is repainted (which lays out
        // what it shows), and learns the document's new size once appends
        // pause.
        const QSignalBlocker quiet(document()->documentLayout());
        cursor.insertText(piece);
        cursor.endEditBlock();
        viewport()->update();
        view_refresh_.start();
    } else {
        cursor.insertText(piece);
        cursor.endEditBlock();
    }
    note_breaks(piece);
    revision_ = document()->revision();
}

void TextArea::note_breaks(const QString& text) {
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        switch (text[i].unicode()) {
            case u'\r':
                if (i + 1 < n && text[i + 1] == u'\n') {
                    breaks_.push_back(Break::CrLf);
                    ++i;
                } else {
                    breaks_.push_back(Break::Cr);
                }
                break;
            case u'\n':
                breaks_.push_back(Break::Lf);
                break;
            case kParagraph:
                breaks_.push_back(Break::Paragraph);
                break;
            case kFrameStart:
                breaks_.push_back(Break::FrameStart);
                break;
            case kFrameEnd:
                breaks_.push_back(Break::FrameEnd);
                break;
            default:
                break;
        }
    }
    if (n > 0) ends_with_cr_ = text.back() == u'\r';
}

QStringView TextArea::break_text(size_t line) const {
    // After a user edit there is no record of the line: CR LF, the line break
    // of a multi-line text box.
    static constexpr char16_t kCrLf[] = u"\r\n";
    static constexpr char16_t kSeparators[] = {kParagraph, kFrameStart, kFrameEnd};
    const Break kind = unedited() && line < breaks_.size() ? breaks_[line] : Break::CrLf;
    switch (kind) {
        case Break::CrLf:
            return QStringView(kCrLf, 2);
        case Break::Cr:
            return QStringView(kCrLf, 1);
        case Break::Lf:
            return QStringView(kCrLf + 1, 1);
        case Break::Paragraph:
            return QStringView(kSeparators, 1);
        case Break::FrameStart:
            return QStringView(kSeparators + 1, 1);
        case Break::FrameEnd:
            return QStringView(kSeparators + 2, 1);
    }
    return {};
}

template <class Part, class Brk>
void TextArea::walk_range(int from, int to, Part part, Brk brk) const {
    // Line by line: each line's characters, then the break that ends it
    // (every line but the last has one, at the position after its text).
    QTextBlock block = document()->findBlock(from);
    size_t line = block.isValid() ? static_cast<size_t>(block.blockNumber()) : 0;
    for (; block.isValid() && block.position() < to; block = block.next(), ++line) {
        const int start = block.position();
        const QString text = block.text();
        const int end = start + static_cast<int>(text.size());
        const int a = std::max(from, start), b = std::min(to, end);
        if (b > a) part(QStringView(text).mid(a - start, b - a));
        if (end >= from && end < to && block.next().isValid()) brk(break_text(line));
    }
}

QString TextArea::exact_range(int from, int to) const {
    QString out;
    if (to <= from) return out;
    out.reserve(to - from + 16);
    const auto add = [&](QStringView s) { out.append(s); };
    walk_range(from, to, add, add);
    return out;
}

QByteArray TextArea::exact_range_utf8(int from, int to) const {
    QByteArray out;
    if (to <= from) return out;
    out.reserve(to - from + 16);
    const auto add = [&](QStringView s) { append_utf8(out, s); };
    walk_range(from, to, add, add);
    return out;
}

std::string TextArea::exact_text() const {
    if (unedited() && verbatim_) return *verbatim_;
    const QByteArray utf8 = exact_range_utf8(0, document()->characterCount() - 1);
    std::string text(utf8.constData(), static_cast<size_t>(utf8.size()));
    if (unedited()) text += held_back_;
    return text;
}

QString TextArea::exact_selection(const QTextCursor& selection) const {
    return exact_range(selection.selectionStart(), selection.selectionEnd());
}

QMimeData* TextArea::createMimeDataFromSelection() const {
    // Plain text only: no rich text, no HTML.
    const QTextCursor cursor = textCursor();
    if (!isReadOnly()) {
        // The user may change the text at any time: take it now.
        auto* data = new QMimeData;
        data->setText(exact_selection(cursor));
        return data;
    }
    const int from = cursor.selectionStart(), to = cursor.selectionEnd();
    auto* data = new DeferredText([this, from, to] { return exact_range(from, to); },
                                  [this, from, to] { return exact_range_utf8(from, to); });
    std::erase_if(deferred_, [](const QPointer<DeferredText>& p) { return p.isNull(); });
    deferred_.emplace_back(data);
    return data;
}

}  // namespace monvia::ui
