#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <vector>

// The program's fixed tables of file kinds: extensions and 32-bit type codes
// of pictures, music, films, archives and documents, and the tests built on
// them. Safe from any thread.
namespace KZFileKinds {

QString imagesExtensions();
QStringList arrayImagesExtensions();
QString imagesTypes();
QStringList imagesOSTypesArray();
QString imagesForContentCheckTypes();
QStringList imagesContentCheckExtensions();
QString musicExtensions();
QStringList arrayMusicExtensions();
QStringList musicOSTypesArray();
QString moviesExtensions();
QStringList arrayMoviesExtensions();
QStringList moviesOSTypesArray();
QString archiveExtensions();
QStringList arrayArchiveExtensions();
QStringList archiveOSTYpesArray();
QString documentExtensions();
QStringList arrayDocumentExtensions();
QStringList documentOSTypesArray();

// The 32-bit codes of a quoted-code list ("'GIF ','GIFf',..."), in order,
// repeats kept; a piece not of the form 'XXXX' gives 0.
std::vector<quint32> typesFormattedToCheck(const QString& list);
// The pieces of a comma-separated list, in order.
QStringList extensionsFormattedToCheck(const QString& list);

// Case-sensitive; an empty extension matches nothing.
bool isImage(quint32 type, const QString& extension);
bool isSound(quint32 type, const QString& extension);
bool isCompressed(quint32 type, const QString& extension);

} // namespace KZFileKinds
