// The compiled translations are embedded as Qt resources of this object
// library; this file only gives the library a translation unit of its own.
namespace tervane {
int translationsAnchor = 0;
}
