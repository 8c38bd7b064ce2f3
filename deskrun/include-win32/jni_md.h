/* Machine-dependent JNI types for Windows (x86 and x64), for cross builds
   with mingw against the Linux JDK's jni.h. Builds that pin their exports
   with a .def file define JNIEXPORT as empty. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#ifndef JNIEXPORT
#define JNIEXPORT __declspec(dllexport)
#endif
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
