#include "result/model/KZGroupDictionary.h"

#include "result/model/KZSortGroupModule.h"

const QString KZGroupDictionary::childrenKey = QStringLiteral("children");

KZGroupDictionary::KZGroupDictionary(const QVariantMap& dictionary) : embeddedDictionary_(dictionary)
{
}

KZGroupDictionary KZGroupDictionary::dictionaryWithObjectsAndKeys(
    std::initializer_list<std::pair<QVariant, QString>> pairs)
{
    if (pairs.size() == 0 || !pairs.begin()->first.isValid())
        return {};
    QVariantMap dictionary;
    for (const auto& [object, key] : pairs) {
        Q_ASSERT_X(!key.isEmpty(), "KZGroupDictionary", "every object needs a key");
        if (!key.isEmpty())
            dictionary.insert(key, object);
    }
    return KZGroupDictionary(dictionary);
}

QVariant KZGroupDictionary::objectForKey(const QString& key) const
{
    const QVariant stored = embeddedDictionary_.value(key);
    return stored.isValid() ? stored : valueForUndefinedKey(key);
}

void KZGroupDictionary::setObject(const QVariant& object, const QString& key)
{
    embeddedDictionary_.insert(key, object);
}

void KZGroupDictionary::removeObjectForKey(const QString& key)
{
    embeddedDictionary_.remove(key);
}

KZFoundItemArray KZGroupDictionary::children() const
{
    return embeddedDictionary_.value(childrenKey).value<KZFoundItemArray>();
}

QVariant KZGroupDictionary::valueForUndefinedKey(const QString& key) const
{
    return KZSortGroupModule::sharedControl().valueForKey(key, children(), true);
}
