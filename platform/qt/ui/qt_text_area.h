#pragma once
// The multi-line text box of the Qt toolkit: a QPlainTextEdit that gives its
// text back, and copies it to the clipboard, exactly as the program set it.
//
// Qt's document turns every line break (CR LF, a lone CR, a lone LF and a few
// Unicode separators) into one paragraph break, so the box remembers, one
// small entry per line, which break each one was. That is all it keeps beside
// the document: the text itself lives only there, and appending costs in
// proportion to the piece appended, not to what the box already holds. In a
// read-only box an append lays out no line that is off view either.
//
// Two rare inputs need more: a piece that ends inside a UTF-8 character keeps
// those (at most three) bytes back until the rest of the character comes,
// and a text that is not valid UTF-8 is kept as its bytes (the box shows
// replacement characters for them), since the document cannot hold it.
//
// Copying (Ctrl+C, and the X11 selection) puts the selected characters on the
// clipboard as plain text only, line breaks as set, every other character,
// the no-break space included, as it stands. Qt's own copy builds rich text
// and an HTML rendering of the selection as well, which costs time that grows
// with the square of a long line's length and turns no-break spaces into
// blanks on the way. In a read-only box the text is only gathered when some
// program asks for it (or before the box changes): selecting, which Qt
// offers as the X11 selection at once, costs nothing for a long transcript.

#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QTextCursor;

namespace monvia::ui {

// Plain text for the clipboard, made on first request: as UTF-8 bytes when
// those are asked for (as the X11 clipboard does), which saves converting a
// long text twice.
class DeferredText final : public QMimeData {
public:
    DeferredText(std::function<QString()> make, std::function<QByteArray()> make_utf8)
        : make_(std::move(make)), make_utf8_(std::move(make_utf8)) {}
    QStringList formats() const override;
    bool hasFormat(const QString& mime_type) const override;
    // Makes the text now, if it has not been made yet.
    void settle();

protected:
    QVariant retrieveData(const QString& mime_type, QMetaType type) const override;

private:
    std::function<QString()> make_;
    std::function<QByteArray()> make_utf8_;
    std::optional<QString> text_;
    std::optional<QByteArray> utf8_;
};

class TextArea final : public QPlainTextEdit {
public:
    explicit TextArea(QWidget* parent = nullptr);
    ~TextArea() override;

    // Replaces the whole text (UTF-8).
    void set_exact_text(std::string_view text);
    // Adds to the end of the text.
    void append_exact_text(std::string_view more);
    // The text as the program set it; once the user has edited the box, the
    // box's own text with CR LF for every line break.
    std::string exact_text() const;
    // The characters between the cursor's anchor and position, line breaks
    // as they were set.
    QString exact_selection(const QTextCursor& selection) const;

protected:
    QMimeData* createMimeDataFromSelection() const override;

private:
    // Which characters made a paragraph break of the document.
    enum class Break : uint8_t { CrLf, Cr, Lf, Paragraph, FrameStart, FrameEnd };

    // The user has not changed the document since the program last wrote it.
    bool unedited() const;
    // Makes the text of every copy still waiting for it, before the text changes.
    void settle_copies();
    // Inserts UTF-16 text at the end of the document and notes its breaks.
    void insert_at_end(const QString& text);
    // Notes the breaks of text that has just gone into the document.
    void note_breaks(const QString& text);
    // The characters from position from to position to, line breaks as set.
    QString exact_range(int from, int to) const;
    // The same in UTF-8.
    QByteArray exact_range_utf8(int from, int to) const;
    // Calls part(characters) for each line's stretch between position from
    // and position to, and brk(characters) for each line break between them.
    template <class Part, class Brk>
    void walk_range(int from, int to, Part part, Brk brk) const;
    // Which characters make the break that ends line number line.
    QStringView break_text(size_t line) const;

    std::vector<Break> breaks_;            // one per paragraph break of the document, in order
    bool ends_with_cr_ = false;            // the last break is a lone CR with nothing after it yet
    std::string held_back_;                // the start of a UTF-8 character whose rest has not come
    std::optional<std::string> verbatim_;  // the text, when it is not valid UTF-8
    int revision_ = -1;                    // the document's revision when the program last wrote it
    mutable std::vector<QPointer<DeferredText>> deferred_;  // copies whose text is not made yet
    QTimer view_refresh_;  // tells the view the document's new size once appends pause
};

}  // namespace monvia::ui
