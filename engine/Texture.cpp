#include "engine/Texture.h"

#include "base/Logger.h"
#include "base/Vexception.h"
#include "engine/Image.h"

#include <memory>

namespace Velmora {

const Texture* Texture::bound = nullptr;

Texture::Texture(GLenum target) : textureTarget(target) {
    Logger::instance().debug("  Texture(target)");
    glGenTextures(1, &name);
    Logger::instance().debug("  textureID = %i", name);
    bind();
}

Texture::Texture(const char* path, GLenum target, bool alpha) : Texture(target) {
    Logger::instance().debug("Texture(%s)", path);
    // The image is decoded before the target is checked, so a missing file is reported as such
    // whatever the target. If anything below throws, the delegated constructor has finished and
    // the destructor runs ("~Texture()", name deleted).
    Image image(path, alpha ? 4 : 3);
    if (textureTarget != GL_TEXTURE_2D) {
        throw Vexception("Velmora::Texture loader for the asked target has not been implemented.");
    }
    const GLint format = alpha ? GL_RGBA : GL_RGB;
    // Rows of three-channel images need not be a multiple of 4 bytes long; with GL's default
    // alignment of 4 the upload would read past the decoded pixels. Tightly packed rows are what
    // the decoder gives, so unpack with alignment 1 and put the caller's setting back.
    GLint alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(textureTarget, 0, format, image.width(), image.height(), 0, format, GL_UNSIGNED_BYTE,
                 image.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    glTexParameteri(textureTarget, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(textureTarget, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glGenerateMipmap(textureTarget);
}

Texture::~Texture() {
    Logger::instance().debug("~Texture()");
    glDeleteTextures(1, &name);
    if (bound == this) {
        bound = nullptr;
    }
}

void Texture::bind() {
    if (bound == this) {
        Logger::instance().warning("Texture %d already binded", name);
        return;
    }
    glBindTexture(textureTarget, name);
    bound = this;
}

void Texture::unbind() {
    if (bound != this) {
        throw Vexception("Texture not binded");
    }
    bound = nullptr;
    glBindTexture(textureTarget, 0);
}

void Texture::setParameter(GLenum pname, GLint value) {
    glTexParameteri(textureTarget, pname, value);
}

void Texture::texImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                         GLint border, GLenum format, GLenum type, const void* data) {
    glTexImage2D(target, level, internalFormat, width, height, border, format, type, data);
}

void Texture::setUnit(int unit) {
    glActiveTexture(GL_TEXTURE0 + unit);
    textureUnit = unit;
}

} // namespace Velmora
