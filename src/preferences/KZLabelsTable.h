#pragma once

#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

namespace platform {
class UserDefaults;
}

// The stored table of file-type labels ("file_type_labels") as the Labels
// pane and its extensions popover change it. Each change reads the stored
// table, changes one label and writes the whole table back; a label is found
// by its tag every time, never by a row number remembered from earlier, so a
// change whose label was removed or moved meanwhile cannot land on another
// label. Main thread only.
class KZLabelsTable {
public:
    static constexpr int maximumLabels = 12;

    explicit KZLabelsTable(platform::UserDefaults& defaults);

    // The stored labels, type-checked (see KZPreferencesDefaults).
    QList<QVariantMap> labels() const;
    // The tag of a label, when it holds a whole non-negative number.
    static std::optional<quint64> tagOf(const QVariantMap& label);
    // The stored label of `tag`, and its row.
    std::optional<QVariantMap> labelWithTag(quint64 tag) const;
    static std::optional<qsizetype> indexOfTag(const QList<QVariantMap>& labels, quint64 tag);

    bool canAddLabel() const { return labels().size() < maximumLabels; }

    // The tag the next new label gets: one more than the highest of the
    // stored counter and every tag in the table. Nothing when that would wrap
    // around or reach the tags the program reserves for its own tabs.
    std::optional<quint64> nextTag() const;

    enum class AddResult { Added, TableFull, NoTagLeft };
    // Appends an unnamed label in the neutral colours and advances the
    // counter. `tag` receives the new label's tag.
    AddResult addLabel(quint64* tag = nullptr);

    // Removes the label of `tag`, with the label models of open results
    // standing aside meanwhile ("removeObservers", the write, "addObservers",
    // then "updateTableView"). Answers false, posting nothing, when no label
    // has the tag.
    bool removeLabel(quint64 tag);

    // Stores `typed` in title case as the label's name. Answers the stored
    // name; nothing when the name would be empty or the label is gone.
    std::optional<QString> renameLabel(quint64 tag, const QString& typed, const QLocale& locale = QLocale());
    // Each word's first letter in upper case and the rest in lower case, by
    // the word boundaries and case rules of `locale`.
    static QString titleCase(const QString& text, const QLocale& locale = QLocale());

    // Sets the red, green and blue of both colours of the label, each rounded
    // to single precision; the two alphas stay. False when the label is gone.
    bool recolourLabel(quint64 tag, double red, double green, double blue);

    // Puts back the factory table ("removeObservers" and "addObservers" come
    // first, so that open results follow the write) and sets the counter to
    // the number of labels.
    void restoreLabels();

    struct ExtensionsCommit {
        bool written = false;           // the label was found and the table written
        bool extensionsChanged = false; // its extension string differs from before
        QVariantMap label;              // the label as written
    };
    // Replaces the extension groups of the label of `tag` (and an empty name
    // by "user_added"), keeping every other field as it is stored now, and
    // posts "updateTableView". Nothing is written when the label is gone.
    ExtensionsCommit commitExtensions(quint64 tag, const QStringList& groups);

private:
    void writeLabels(const QList<QVariantMap>& labels);

    platform::UserDefaults& defaults_;
};
