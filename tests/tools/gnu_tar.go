// Writes FOLDER as a gzip-compressed tarball in the GNU header form, with
// access and change times, as build scripts in Go do:
//
//	go run gnu_tar.go OUT.tar.gz FOLDER
package main

import (
	"archive/tar"
	"compress/gzip"
	"io"
	"io/fs"
	"os"
	"path/filepath"
	"time"
)

func add(tw *tar.Writer, path string, info fs.FileInfo) error {
	header, err := tar.FileInfoHeader(info, "")
	if err != nil {
		return err
	}
	header.Name = filepath.ToSlash(path)
	if info.IsDir() {
		header.Name += "/"
	}
	header.Format = tar.FormatGNU
	header.AccessTime = time.Unix(1700000100, 0)
	header.ChangeTime = time.Unix(1700000200, 0)
	if err := tw.WriteHeader(header); err != nil || !info.Mode().IsRegular() {
		return err
	}
	file, err := os.Open(path)
	if err != nil {
		return err
	}
	defer file.Close()
	_, err = io.Copy(tw, file)
	return err
}

func main() {
	out, err := os.Create(os.Args[1])
	if err == nil {
		zw := gzip.NewWriter(out)
		tw := tar.NewWriter(zw)
		err = filepath.Walk(os.Args[2], func(path string, info fs.FileInfo, err error) error {
			if err != nil {
				return err
			}
			return add(tw, path, info)
		})
		if err == nil {
			err = tw.Close()
		}
		if err == nil {
			err = zw.Close()
		}
		if err == nil {
			err = out.Close()
		}
	}
	if err != nil {
		os.Stderr.WriteString(err.Error() + "\n")
		os.Exit(1)
	}
}
