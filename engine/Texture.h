// One OpenGL texture object, with a process-wide record of the texture last bound through it.
//
// setParameter and texImage2D do not bind: they act on whatever texture is bound to the target on
// the active unit. setUnit changes the active unit for every later texture call. The file
// constructor decodes an image (Image) into a 2-D texture with mipmaps; other targets are refused.
#pragma once

#include <GL/glew.h>

#include <type_traits>

namespace Velmora {

class Texture {
public:
    // Generates the name and binds it. Logs "  Texture(target)" and "  textureID = %i".
    explicit Texture(GLenum target);
    // As above, then logs "Texture(%s)" and fills the texture from the image at path (RGBA when
    // alpha, RGB otherwise). Throws VFileException when the image cannot be decoded, Vexception
    // for a target other than GL_TEXTURE_2D.
    Texture(const char* path, GLenum target, bool alpha);
    // Logs "~Texture()" and deletes the GL name.
    ~Texture();

    // Binds to its target unless it is the recorded bound texture (then warns "Texture %d already
    // binded" and makes no GL call).
    void bind();
    // Binds 0 to its target; throws Vexception "Texture not binded" unless it is the recorded one.
    void unbind();
    void setParameter(GLenum pname, GLint value);
    // glTexImage2D with exactly these arguments (the object's own target is not used).
    void texImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                    GLint border, GLenum format, GLenum type, const void* data);
    // glActiveTexture(GL_TEXTURE0 + unit).
    void setUnit(int unit);

    GLuint id() const { return name; }
    GLenum target() const { return textureTarget; }
    int unit() const { return textureUnit; }

    // The texture last bound through bind() (or a constructor); null when none.
    static const Texture* boundTexture() { return bound; }

    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;

private:
    GLenum textureTarget;
    GLuint name = 0;
    int textureUnit = 0;

    // Process-wide record of the last bound texture, by object identity, whatever the unit or
    // target. Rule: bind() sets it, unbind() clears it, and the destructor clears it when it names
    // the texture being deleted (GL unbinds a deleted texture, and a later texture may reuse the
    // address). Nothing else touches it.
    static const Texture* bound;
};

static_assert(!std::is_copy_constructible<Texture>::value, "Texture owns a GL name");

} // namespace Velmora
