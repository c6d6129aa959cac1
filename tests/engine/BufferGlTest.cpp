// BufferObject and VertexArray against a real context: bindings, buffer contents, attribute state.
#include "engine/BufferObject.h"
#include "engine/VertexArray.h"
#include "tests/engine/GlTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

using GlTestSupport::integer;
using Velmora::BufferObject;
using Velmora::VertexArray;

TEST(BufferObject, ConstructorBindsOnlyWithATarget) {
    BufferObject bound(GL_ARRAY_BUFFER);
    EXPECT_NE(bound.id(), 0u);
    EXPECT_EQ(bound.target(), static_cast<GLenum>(GL_ARRAY_BUFFER));
    EXPECT_EQ(integer(GL_ARRAY_BUFFER_BINDING), static_cast<GLint>(bound.id()));

    BufferObject unbound(0);
    EXPECT_NE(unbound.id(), 0u);
    EXPECT_NE(unbound.id(), bound.id());
    EXPECT_EQ(unbound.target(), 0u);
    // Nothing was bound: the first buffer still is.
    EXPECT_EQ(integer(GL_ARRAY_BUFFER_BINDING), static_cast<GLint>(bound.id()));

    unbound.bind(GL_COPY_READ_BUFFER);
    EXPECT_EQ(unbound.target(), static_cast<GLenum>(GL_COPY_READ_BUFFER));
    EXPECT_EQ(integer(GL_COPY_READ_BUFFER_BINDING), static_cast<GLint>(unbound.id()));
}

TEST(BufferObject, DataGoesToTheTargetLastBound) {
    BufferObject buffer(GL_ARRAY_BUFFER);
    BufferObject other(GL_ARRAY_BUFFER); // now bound to GL_ARRAY_BUFFER instead
    buffer.bind(GL_COPY_WRITE_BUFFER);
    const float values[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    buffer.setData(sizeof(values), values, GL_STATIC_DRAW);
    const float patch[2] = {7.0f, 8.0f};
    buffer.setSubData(sizeof(float), sizeof(patch), patch);

    float readBack[4] = {};
    glGetBufferSubData(GL_COPY_WRITE_BUFFER, 0, sizeof(readBack), readBack);
    EXPECT_EQ(readBack[0], 1.0f);
    EXPECT_EQ(readBack[1], 7.0f);
    EXPECT_EQ(readBack[2], 8.0f);
    EXPECT_EQ(readBack[3], 4.0f);

    // The buffer on GL_ARRAY_BUFFER was left alone.
    GLint otherSize = -1;
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &otherSize);
    EXPECT_EQ(otherSize, 0);
}

TEST(BufferObject, DestructorDeletesTheName) {
    GLuint name = 0;
    {
        BufferObject buffer(GL_ARRAY_BUFFER);
        name = buffer.id();
        EXPECT_TRUE(glIsBuffer(name));
    }
    EXPECT_FALSE(glIsBuffer(name));
}

TEST(VertexArray, OneInstanceBoundForTheRun) {
    VertexArray& first = VertexArray::instance();
    VertexArray& second = VertexArray::instance();
    EXPECT_EQ(&first, &second);
    EXPECT_NE(first.id(), 0u);
    EXPECT_EQ(integer(GL_VERTEX_ARRAY_BINDING), static_cast<GLint>(first.id()));
}

TEST(VertexArray, AttributeHelpersSetStateOfTheBoundArray) {
    VertexArray& vertexArray = VertexArray::instance();
    BufferObject buffer(GL_ARRAY_BUFFER);
    buffer.bind(GL_ARRAY_BUFFER);
    buffer.setData(64, nullptr, GL_STATIC_DRAW);

    auto attribute = [](GLuint index, GLenum pname) {
        GLint value = -1;
        glGetVertexAttribiv(index, pname, &value);
        return value;
    };

    vertexArray.enableAttribute(3);
    vertexArray.attributePointer(3, 2, GL_FLOAT, GL_TRUE, 16, reinterpret_cast<const void*>(8));
    vertexArray.attributeDivisor(3, 1);
    EXPECT_EQ(attribute(3, GL_VERTEX_ATTRIB_ARRAY_ENABLED), GL_TRUE);
    EXPECT_EQ(attribute(3, GL_VERTEX_ATTRIB_ARRAY_SIZE), 2);
    EXPECT_EQ(attribute(3, GL_VERTEX_ATTRIB_ARRAY_TYPE), GL_FLOAT);
    EXPECT_EQ(attribute(3, GL_VERTEX_ATTRIB_ARRAY_NORMALIZED), GL_TRUE);
    EXPECT_EQ(attribute(3, GL_VERTEX_ATTRIB_ARRAY_STRIDE), 16);
    EXPECT_EQ(attribute(3, GL_VERTEX_ATTRIB_ARRAY_DIVISOR), 1);
    EXPECT_EQ(attribute(3, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING), static_cast<GLint>(buffer.id()));
    void* offset = nullptr;
    glGetVertexAttribPointerv(3, GL_VERTEX_ATTRIB_ARRAY_POINTER, &offset);
    EXPECT_EQ(offset, reinterpret_cast<void*>(8));

    vertexArray.attributeDivisor(3, 0);
    vertexArray.disableAttribute(3);
    EXPECT_EQ(attribute(3, GL_VERTEX_ATTRIB_ARRAY_ENABLED), GL_FALSE);
    EXPECT_EQ(attribute(3, GL_VERTEX_ATTRIB_ARRAY_DIVISOR), 0);
    // Still the one array: the helpers bind nothing.
    EXPECT_EQ(integer(GL_VERTEX_ARRAY_BINDING), static_cast<GLint>(vertexArray.id()));
}
