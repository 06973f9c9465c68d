#!/usr/bin/env python3
"""Generates what image_msgs/Image needs beyond the hand-written C++ struct.

  gen_image_msg.py Image.msg MD5 INCLUDE_DIR PYTHON_PACKAGE_DIR

- INCLUDE_DIR/ImageIdentity.h: the checksum and the full definition text
  (the message with every type it uses) for the C++ message traits;
- PYTHON_PACKAGE_DIR/msg/: the genpy class, loaded with the published checksum,
  so rospy and rostopic interoperate with C++ nodes.
"""
import os
import subprocess
import sys

import genmsg
import genmsg.msg_loader

STD_MSGS = '/usr/share/std_msgs/msg'


def main():
    msg_file, md5, include_dir, py_dir = sys.argv[1:5]
    ctx = genmsg.MsgContext.create_default()
    msg_type = genmsg.msg_loader.load_msg_from_file(ctx, msg_file, 'image_msgs/Image')
    genmsg.msg_loader.load_depends(ctx, msg_type, {'std_msgs': [STD_MSGS]})
    full_text = genmsg.compute_full_text(ctx, msg_type)

    os.makedirs(include_dir, exist_ok=True)
    with open(os.path.join(include_dir, 'ImageIdentity.h'), 'w') as out:
        out.write('// Generated from Image.msg; do not edit.\n#pragma once\n\n')
        out.write('namespace image_msgs {\n')
        out.write('constexpr const char *kImageMd5 = "%s";\n' % md5)
        out.write('constexpr const char *kImageDefinition = R"__msg__(%s)__msg__";\n' % full_text)
        out.write('}  // namespace image_msgs\n')

    msg_dir = os.path.join(py_dir, 'msg')
    os.makedirs(msg_dir, exist_ok=True)
    subprocess.check_call([sys.executable, '/usr/lib/genpy/genmsg_py.py', '-p', 'image_msgs',
                           '-o', msg_dir, '-I', 'std_msgs:' + STD_MSGS, msg_file])
    with open(os.path.join(msg_dir, '__init__.py'), 'w') as out:
        out.write('# Generated; do not edit.\nfrom ._Image import *\n')
        out.write('Image._md5sum = %r  # the published checksum, not the computed one\n' % md5)
    open(os.path.join(py_dir, '__init__.py'), 'a').close()


if __name__ == '__main__':
    main()
