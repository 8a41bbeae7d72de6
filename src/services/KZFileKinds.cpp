// The program's fixed knowledge of file kinds. The lists are stored data:
// the default file-type labels copy them into the user's settings, so their
// order, their repeats and their letter case are kept exactly.
#include "services/KZFileKinds.h"

#include "platform/FinderInfo.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

QStringList listOf(std::initializer_list<const char*> items)
{
    QStringList out;
    out.reserve(qsizetype(items.size()));
    for (const char* item : items)
        out.append(QString::fromLatin1(item));
    return out;
}

constexpr quint32 code(std::string_view four)
{
    return (quint32(quint8(four[0])) << 24) | (quint32(quint8(four[1])) << 16) | (quint32(quint8(four[2])) << 8)
        | quint32(quint8(four[3]));
}

// 'XXXX' with its quotes; anything else is no code.
quint32 codeOfQuotedPiece(const QString& piece)
{
    if (piece.size() != 6 || piece.front() != QLatin1Char('\'') || piece.back() != QLatin1Char('\''))
        return 0;
    return platform::osTypeFromString(QStringView(piece).mid(1, 4));
}

template <size_t N> bool containsCode(const std::array<quint32, N>& codes, quint32 type)
{
    return std::find(codes.begin(), codes.end(), type) != codes.end();
}

constexpr std::array<quint32, 25> kSoundTypes = {
    code("sfil"), code("AIFF"), code("WAVE"), code("MPG "), code("AIFC"), code(".WAV"), code("mpg4"),
    code("M4A "), code("PLAY"), code("MP3U"), code("PLS "), code("RMP "), code("mp3!"), code("MP3!"),
    code("MPG3"), code("mpg3"), code("Mp3 "), code("MP3 "), code("MPG2"), code("MPEG"), code("Sd2f"),
    code("MooV"), code("AUDB"), code("M4P "), code("M4B "),
};

constexpr std::array<quint32, 20> kArchiveTypes = {
    code("SIT!"), code("SegM"), code("SIT2"), code("SITD"), code("Seg1"), code("Seg2"), code("Seg3"),
    code("SegN"), code("SPSV"), code("SIT5"), code("ZIP "), code("PCFA"), code("Bzp2"), code("TARF"),
    code("PACT"), code("SITX"), code("Gzip"), code("ZIVU"), code("aust"), code("SITx"),
};

} // namespace

// ---- Images ----------------------------------------------------------------

QString KZFileKinds::imagesExtensions()
{
    return QStringLiteral(
        "png,jpg,gif,pntg,qtif,qti,JPG,jpeg,jpe,sgi,tga,jp2,fpix,targa,rgb,pnt,mac,ico,pcx,bmp,mj2,pct,pict,pic,"
        "tif,tiff,pxr,jpx,fpx,FPX,EXR,exr,XBM,xbm,CRW,crw,CR2,cr2,NEF,nef,RAF,raf,ORF,orf,MRW,mrw,SRF,srf,DCR,"
        "dcr,DNG,dng,epsf,eps,icns");
}

QStringList KZFileKinds::arrayImagesExtensions()
{
    return listOf({"png,jpg,gif", "pntg,qtif,qti,JPG", "jpeg,jpe,sgi,tga", "jp2,fpix,targa,NEF", "rgb,pnt,mac,ico",
                   "pcx,bmp,mj2,pct", "pict,pic,tif,tiff", "pxr,jpx,fpx,FPX", "EXR,exr,XBM,xbm", "CRW,crw,CR2,cr2",
                   "nef,RAF,raf,ORF", "orf,MRW,mrw,SRF", "srf,DCR,dcr,DNG", "dng,epsf,icns"});
}

QString KZFileKinds::imagesTypes()
{
    return QStringLiteral(
        "'GIF ','GIFf','8BIM','PNTG','qtif','JPEG','.SGI','TPIC','jp2 ','PNG ','SCRN','RSRC','GIF ','PCX ',"
        "'BMP ','BMPf','8BPS','mjp2','PICT','TIFF','PXR ','PNGf','GIFf','EPSF','JPX ','CRW ','CR2 ','NEF ',"
        "'DNG ','XBM '");
}

QStringList KZFileKinds::imagesOSTypesArray()
{
    return listOf({"GIF ", "GIFf", "8BIM", "PNTG", "qtif", "JPEG", ".SGI", "TPIC", "jp2 ", "PNG ",
                   "SCRN", "RSRC", "GIF ", "PCX ", "BMP ", "BMPf", "8BPS", "mjp2", "PICT", "TIFF",
                   "PXR ", "PNGf", "GIFf", "EPSF", "JPX ", "CRW ", "CR2 ", "NEF ", "DNG ", "XBM "});
}

QString KZFileKinds::imagesForContentCheckTypes()
{
    return QStringLiteral("'GIF ','GIFf','PNTG','qtif','JPEG','jp2 ','GIF ','TIFF','GIFf','CRW ','CR2 ','NEF '");
}

QStringList KZFileKinds::imagesContentCheckExtensions()
{
    return listOf({"gif", "jpg", "JPG", "jpeg", "jpe", "jp2", "tif", "tiff", "gif", "CRW", "crw", "CR2", "cr2", "NEF",
                   "nef", "png"});
}

// ---- Music -------------------------------------------------------------------

QString KZFileKinds::musicExtensions()
{
    return QStringLiteral(
        "m4p,mp3,m4a,aiff,MP3,aifc,aif,mp2,amr,wav,au,ulw,snd,mpa,mpm,m4b,m3url,swa,kar,mid,smf,midi,cdda");
}

QStringList KZFileKinds::arrayMusicExtensions()
{
    return listOf({"m4p,mp3,m4a,aiff", "MP3,aifc,aif,mp2", "amr,wav,au,ulw", "snd,mpa,mpm,m4b", "m3url,swa,kar,mid",
                   "smf,midi,cdda"});
}

QStringList KZFileKinds::musicOSTypesArray()
{
    return listOf(
        {"AIFC", "AIFF", "amr ", ".WAV", "WAVE", "ULAW", "M4A ", "M4P ", "M4B ", "MPG3", "Mp3 ", "SwaT", "Midi"});
}

// ---- Movies --------------------------------------------------------------------

QString KZFileKinds::moviesExtensions()
{
    return QStringLiteral(
        "mpeg,avi,mov,mpg4,swf,m1s,m1a,m75,m15,m2p,m2s,mpg,qtl,vfw,m2v,qt,3g2,m1v,mp4,dv,3gp2,wmv,flv");
}

QStringList KZFileKinds::arrayMoviesExtensions()
{
    return listOf({"mpeg,avi,mov,mpg4", "swf,m1s,m1a,m75", "m15,m2p,m2s,mpg", "qtl,vfw,m2v,qt", "3g2,m1v,mp4,dv",
                   "3gp2,wmv,flv"});
}

QStringList KZFileKinds::moviesOSTypesArray()
{
    return listOf({"MPEG", "MPG ", "qtlk", "VfW ", "m2v ", "MooV", "moov", "3gp2", "mpg4", "dvc!"});
}

// ---- Archives ------------------------------------------------------------------

QString KZFileKinds::archiveExtensions()
{
    return QStringLiteral("zip,tar,hqx,tgz,sea,uu,bin,lzh,sitx,sit,gtar,gnutar,ustar,bz2,tbz,tbz2,gz,tar-gz,Z,z,"
                          "taz,tar-z");
}

QStringList KZFileKinds::arrayArchiveExtensions()
{
    return listOf({"zip,tar,hqx,tgz", "sea,uu,bin,lzh", "sitx,sit,gtar,gnutar", "ustar,bz2,tbz,tbz2", "gz,tar-gz,Z",
                   "z,taz,tar-z"});
}

QStringList KZFileKinds::archiveOSTYpesArray()
{
    return listOf({"SIT!", "SegM", "SIT2", "SITD", "Seg1", "Seg2", "Seg3", "SegN", "SPSV", "SIT5",
                   "ZIP ", "PCFA", "Bzp2", "TARF", "PACT", "SITX", "Gzip", "ZIVU", "aust", "SITx"});
}

// ---- Documents -------------------------------------------------------------------

QString KZFileKinds::documentExtensions()
{
    return QStringLiteral("doc,docx,pages,pdf,rtf,rtfd,txt,text,xMAP,in");
}

QStringList KZFileKinds::arrayDocumentExtensions()
{
    return listOf({"doc,docx,pages", "pdf,rtf,rtfd,txt", "text,xMAP,in"});
}

QStringList KZFileKinds::documentOSTypesArray()
{
    return listOf({"RTF ", "W8BN", "W6BN", "TEXT", "sEXT", "ttro"});
}

// ---- Conversions and tests -------------------------------------------------------

std::vector<quint32> KZFileKinds::typesFormattedToCheck(const QString& list)
{
    std::vector<quint32> codes;
    const QStringList pieces = list.split(QLatin1Char(','));
    codes.reserve(size_t(pieces.size()));
    for (const QString& piece : pieces)
        codes.push_back(codeOfQuotedPiece(piece));
    return codes;
}

QStringList KZFileKinds::extensionsFormattedToCheck(const QString& list)
{
    return list.split(QLatin1Char(','));
}

bool KZFileKinds::isImage(quint32 type, const QString& extension)
{
    // Built once for the life of the process; the result model asks per item.
    static const std::vector<quint32> codes = typesFormattedToCheck(imagesTypes());
    static const QStringList extensions = extensionsFormattedToCheck(imagesExtensions());
    if (type != 0 && std::find(codes.begin(), codes.end(), type) != codes.end())
        return true;
    return !extension.isEmpty() && extensions.contains(extension, Qt::CaseSensitive);
}

bool KZFileKinds::isSound(quint32 type, const QString& extension)
{
    static const QStringList extensions = listOf({"aif", "aiff", "m3u", "pls", "rmp",  "mp3", "mp2", "aifc",
                                                  "wav", "wave", "mpg", "nvf", "cdda", "aa",  "m4a", "m4p",
                                                  "m4b", "au",   "mid", "snd", "AIF",  "AIFF"});
    if (type != 0 && containsCode(kSoundTypes, type))
        return true;
    return !extension.isEmpty() && extensions.contains(extension, Qt::CaseSensitive);
}

bool KZFileKinds::isCompressed(quint32 type, const QString& extension)
{
    static const QStringList extensions = listOf({"hqx", "sea",    "uu",     "bin",   "lzh", "sitx", "sit",  "zip",
                                                  "tar", "gtar",   "gnutar", "ustar", "bz2", "tbz",  "tbz2", "gz",
                                                  "tgz", "tar-gz", "Z",      "z",     "taz", "tar-z"});
    if (type != 0 && containsCode(kArchiveTypes, type))
        return true;
    return !extension.isEmpty() && extensions.contains(extension, Qt::CaseSensitive);
}
