#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QtGlobal>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The query language of saved searches, evaluated by us over the file
// system instead of a metadata index. What it understands:
//
//   kMDItemFSName, kMDItemDisplayName         "pattern"[cdw]  with * and ?
//   kMDItemFSSize, kMDItemLogicalSize,
//   kMDItemPhysicalSize                       numbers (bytes)
//   kMDItemFSContentChangeDate, kMDItemContentModificationDate,
//   kMDItemFSCreationDate, kMDItemContentCreationDate,
//   kMDItemLastUsedDate, kMDItemFSAttributeChangeDate
//                                             $time.now[(±s)], $time.today[(±d)],
//                                             $time.iso(...)
//   kMDItemContentType, kMDItemContentTypeTree type identifiers or MIME types
//   ==  =  !=  <  >  <=  >=,  InRange(attr, low, high),  &&  ||  !  ( )
//
// Any other attribute is parsed but its comparison matches nothing; the
// parsed query lists those attributes so that the caller can say so.
namespace kzquery {

// What the evaluator knows of one item. The kind is asked only when a
// comparison needs it, since it may mean reading the file.
struct Facts {
    QString name;
    bool isDirectory = false;
    quint64 size = 0;
    quint64 physicalSize = 0;
    QDateTime modified;
    QDateTime created; // invalid when the file system does not record it
    QDateTime accessed;
    QDateTime changed;
    // A MIME type name ("image/png"); called at most once per item.
    std::function<QString()> mimeType;
};

class Node;

class Query {
public:
    Query(std::shared_ptr<const Node> root, QStringList unknown);
    bool matches(const Facts& facts) const;
    // Attributes that the query names and that match nothing here, each once.
    const QStringList& unknownAttributes() const { return unknown_; }

private:
    std::shared_ptr<const Node> root_;
    QStringList unknown_;
};

// `now` fixes $time.now and $time.today (local midnight of its day). A query
// that cannot be parsed gives nothing and the reason in `error`.
std::optional<Query> parse(const QString& text, const QDateTime& now, QString* error = nullptr);

// Wildcard match of a whole text: `*` any run, `?` one character, `\` makes
// the next character literal. `caseless` and `diacriticless` fold both sides.
bool wildcardMatch(const QString& pattern, const QString& text, bool caseless, bool diacriticless);

// Whether a MIME type is of the kind a type identifier ("public.image") or a
// MIME name ("image/png", "image/*") names. Unknown identifiers match nothing.
bool kindMatches(const QString& kind, const QString& mimeType);

// A search scope turned into a folder to walk.
struct Scope {
    std::filesystem::path folder;
    bool wholeComputer = false; // pseudo file systems are left out
};

// The scopes of a saved search: "kMDQueryScopeHome" and "~" paths under
// `home`, the computer's constants as "/", file URLs and absolute paths as
// given. A scope that names nothing on this system, or is not text, gives
// nothing and the reason in `error`. An empty list is the whole computer.
std::optional<std::vector<Scope>> resolveScopes(const QVariantList& scopes, const std::filesystem::path& home,
                                                QString* error = nullptr);

} // namespace kzquery
