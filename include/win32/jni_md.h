/* Machine-dependent JNI types and linkage for Windows (32- and 64-bit),
 * used with the JDK's platform-neutral jni.h in cross builds. JNIEXPORT
 * may be predefined: the 32-bit build defines it empty and exports the
 * methods through a generated .def file instead. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#ifndef JNIEXPORT
#define JNIEXPORT __declspec(dllexport)
#endif
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif /* !_JAVASOFT_JNI_MD_H_ */
