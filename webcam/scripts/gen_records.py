#!/usr/bin/env python3
"""Turns the control services' .srv files into their records.

  gen_records.py INCLUDE_DIR PYTHON_PACKAGE_DIR FILE.srv...

For each service S it writes INCLUDE_DIR/S.h: webcam::S with its Request and
Response records (ros::Message records with roscpp 1.15 traits and
serializers) and the Python class of the service into PYTHON_PACKAGE_DIR/srv.

The server checksum is the MD5 of the service's canonical text: one
"type name" line per request field, a "---" line, one line per response
field. Both records of a service and the Python classes carry it.
"""
import hashlib
import os
import subprocess
import sys

CPP_TYPES = {'string': 'std::string', 'int8': 'int8_t'}
STD_MSGS = '/usr/share/std_msgs/msg'


def parse(path):
    """Request and response fields of a .srv file as lists of (type, name)."""
    halves = [[], []]
    half = 0
    with open(path) as srv:
        for line in srv:
            line = line.split('#', 1)[0].strip()
            if line == '---':
                half = 1
            elif line:
                ftype, name = line.split()
                if ftype not in CPP_TYPES:
                    raise SystemExit('%s: field type %s is not supported' % (path, ftype))
                halves[half].append((ftype, name))
    return halves


def canonical(fields):
    return ''.join('%s %s\n' % f for f in fields)


def server_md5(req, res):
    return hashlib.md5((canonical(req) + '---\n' + canonical(res)).encode()).hexdigest()


def c_string(text):
    return '"%s"' % text.replace('\\', '\\\\').replace('"', '\\"').replace('\n', '\\n')


RECORD = '''
    struct {Half} : public ros::Message {{
{members}
        {Half}() {{}}
        {Half}(const {Half} &) = default;
        {Half} &operator=(const {Half} &) = default;

        typedef boost::shared_ptr<{Half}> Ptr;
        typedef boost::shared_ptr<{Half} const> ConstPtr;

        static std::string __s_getDataType() {{ return "webcam/{name}{Half}"; }}
        static std::string __s_getMD5Sum() {{ return ""; }}
        static std::string __s_getMessageDefinition() {{ return {definition}; }}
        static std::string __s_getServerMD5Sum() {{ return kServerMd5; }}
        static std::string __s_getServiceDataType() {{ return kDataType; }}

        const std::string __getDataType() const override {{ return __s_getDataType(); }}
        const std::string __getMD5Sum() const override {{ return __s_getMD5Sum(); }}
        const std::string __getMessageDefinition() const override {{ return __s_getMessageDefinition(); }}
        uint32_t serializationLength() const override {{ return 0{lengths}; }}
        uint8_t *serialize(uint8_t *write_ptr, uint32_t) const override
        {{
{writes}            return write_ptr;
        }}
        // Null, having read nothing past __serialized_length bytes, when an
        // encoded length runs past them.
        uint8_t *deserialize(uint8_t *read_ptr) override
        {{
            const uint8_t *p = read_ptr, *end = read_ptr + __serialized_length;
{reads}            return const_cast<uint8_t *>(p);
        }}
        uint8_t *deserialize(uint8_t *read_ptr, uint32_t size)
        {{
            __serialized_length = size;
            return deserialize(read_ptr);
        }}
        virtual const std::string __getServerMD5Sum() const {{ return __s_getServerMD5Sum(); }}
        virtual const std::string __getServiceDataType() const {{ return __s_getServiceDataType(); }}
    }};
'''

TRAITS = '''
namespace message_traits {{
template <> struct IsMessage<{T}> : TrueType {{}};
template <> struct MD5Sum<{T}> {{
    static const char *value() {{ return {S}::kServerMd5; }}
    static const char *value(const {T} &) {{ return value(); }}
}};
template <> struct DataType<{T}> {{
    static const char *value() {{ return "webcam/{name}{Half}"; }}
    static const char *value(const {T} &) {{ return value(); }}
}};
template <> struct Definition<{T}> {{
    static const char *value() {{ return {definition}; }}
    static const char *value(const {T} &) {{ return value(); }}
}};
}}  // namespace message_traits
namespace service_traits {{
template <> struct MD5Sum<{T}> {{
    static const char *value() {{ return {S}::kServerMd5; }}
    static const char *value(const {T} &) {{ return value(); }}
}};
template <> struct DataType<{T}> {{
    static const char *value() {{ return {S}::kDataType; }}
    static const char *value(const {T} &) {{ return value(); }}
}};
}}  // namespace service_traits
namespace serialization {{
template <> struct Serializer<{T}> {{
    template <typename Stream, typename M> inline static void allInOne(Stream &stream, M m)
    {{
{nexts}        (void)stream;
        (void)m;
    }}
    ROS_DECLARE_ALLINONE_SERIALIZER
}};
}}  // namespace serialization
'''

HEADER = '''// Generated from srv/{name}.srv by gen_records.py; do not edit.
#pragma once

#include <webcam/legacy_message.h>
#include <webcam/wire.h>

#include <ros/message_traits.h>
#include <ros/serialization.h>
#include <ros/service_traits.h>

namespace webcam {{

struct {name} {{
    // One object for the whole program: roscpp compares the two records'
    // checksums by pointer.
    static constexpr const char kServerMd5[] = "{md5}";
    static constexpr const char kDataType[] = "webcam/{name}";
{records}
    Request request;
    Response response;

    static std::string getDataType() {{ return kDataType; }}
    static std::string getMD5Sum() {{ return kServerMd5; }}
}};

}}  // namespace webcam

namespace ros {{
{traits}
}}  // namespace ros
'''


def record(name, half, fields, definition):
    members = ''.join('        %s %s%s;\n' % (CPP_TYPES[t], n, ' = 0' if t == 'int8' else '')
                      for t, n in fields)
    return RECORD.format(
        Half=half, name=name, members=members, definition=c_string(definition),
        lengths=''.join(' + wire::length(%s)' % n for _, n in fields),
        writes=''.join('            write_ptr = wire::write(write_ptr, %s);\n' % n for _, n in fields),
        reads=''.join('            p = wire::read(p, end, %s);\n' % n for _, n in fields)
        + '            if (!p)\n                return nullptr;\n' if fields else '            (void)end;\n')


def traits(name, half, fields, definition):
    return TRAITS.format(
        T='webcam::%s::%s' % (name, half), S='webcam::' + name, name=name, Half=half,
        definition=c_string(definition),
        nexts=''.join('        stream.next(m.%s);\n' % n for _, n in fields))


def header(name, req, res):
    # The definition texts the records report: the request's fields then one
    # blank line, the response's fields then three.
    halves = [('Request', req, canonical(req) + '\n'), ('Response', res, canonical(res) + '\n\n\n')]
    return HEADER.format(
        name=name, md5=server_md5(req, res),
        records=''.join(record(name, h, f, d) for h, f, d in halves),
        traits=''.join(traits(name, h, f, d) for h, f, d in halves))


def python_classes(py_dir, services):
    srv_dir = os.path.join(py_dir, 'srv')
    os.makedirs(srv_dir, exist_ok=True)
    for name, path, _ in services:
        subprocess.check_call([sys.executable, '/usr/lib/genpy/gensrv_py.py', '-p', 'webcam',
                               '-o', srv_dir, '-I', 'std_msgs:' + STD_MSGS, path])
    with open(os.path.join(srv_dir, '__init__.py'), 'w') as out:
        out.write('# Generated by gen_records.py; do not edit.\n')
        for name, _, md5 in services:
            out.write('from ._%s import *\n' % name)
        out.write('\n# genpy hashes the two halves without the "---" line; the viewer serves\n'
                  '# the checksum of the whole service text.\n')
        for name, _, md5 in services:
            out.write('%s._md5sum = %sRequest._md5sum = %sResponse._md5sum = %r\n'
                      % (name, name, name, md5))
    open(os.path.join(py_dir, '__init__.py'), 'a').close()


def main():
    include_dir, py_dir = sys.argv[1:3]
    os.makedirs(include_dir, exist_ok=True)
    services = []
    for path in sys.argv[3:]:
        name = os.path.splitext(os.path.basename(path))[0]
        req, res = parse(path)
        with open(os.path.join(include_dir, name + '.h'), 'w') as out:
            out.write(header(name, req, res))
        services.append((name, path, server_md5(req, res)))
    python_classes(py_dir, services)


if __name__ == '__main__':
    main()
